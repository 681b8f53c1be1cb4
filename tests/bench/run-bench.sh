#!/bin/bash
# Times a cleaning run of a large product (about 20,000 registry keys, 14,000 files, 2,000
# INF files to scan) against the plainest Win32 program doing the same removals and against
# an administrator's cmd script, whole-process, in a scratch prefix of the build tree.
#
#   tests/bench/run-bench.sh BUILD_DIR
#
# BUILD_DIR is a 64-bit build (zqclean64.exe, bench/bench_*.exe). Environment:
#   REPS=3            repetitions per contender (the median is reported)
#   CMD_REPS=REPS     repetitions of the cmd script (about 1.5 minutes each)
#   CONTENDERS="zqclean inproc baseline cmd"   (also: backup, zqclean64.exe -s with a
#                     "[general] backup=" folder, whose save is verified and then removed;
#                     preview, zqclean64.exe -preview, verified to leave everything in place;
#                     snapshot, zqclean64.exe -snapshot of the machine with the product;
#                     draft, zqclean64.exe -draft of the product, against a snapshot taken
#                     before it was seeded; walk, bench_walk.exe, the plainest program walking
#                     what a snapshot records: their yardstick)
#   SAVE_WAIT=1       before each timed run, wait for the wineserver's periodic registry
#                     save of the seeded keys, so that it does not fall into the run (the
#                     seeded files are flushed to disk with sync in any case)
#   PARTS=1           afterwards, on the seeded product, time the engine's primitives against
#                     their plain equivalents (bench_parts, A and B alternating)
#   KEEP_PREFIX=0     1 keeps BUILD_DIR/benchprefix (1.3 GB) afterwards
#   SCALE=1           the product at SCALE times its size (registry groups, modules, INF files)
#   CPU_ACCT=1        also report the CPU time of everything the prefix runs (wineserver,
#                     services, the contender), from a cpuacct cgroup of its own when the
#                     machine has one: on a shared machine this varies less than wall time
# Every run is verified afterwards (nothing targeted left, everything else kept); a run that
# fails the check is marked and left out of the median.
set -u
if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
reps=${REPS:-3}
cmdReps=${CMD_REPS:-$reps}
contenders=${CONTENDERS:-zqclean inproc baseline cmd}
prefix=$build/benchprefix
results=$build/bench-results
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export ZQBENCH_SCALE=${SCALE:-1}
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || echo wine)

for exe in zqclean64.exe bench/bench_seed.exe bench/bench_baseline.exe; do
    [ -f "$build/$exe" ] || { echo "missing $build/$exe (build the 64-bit tree first)" >&2; exit 2; }
done
case " $contenders " in
*" inproc "*) [ -f "$build/bench/bench_inproc.exe" ] || contenders=${contenders/inproc/} ;;
esac
case " $contenders " in
*" walk "*) [ -f "$build/bench/bench_walk.exe" ] || contenders=${contenders/walk/} ;;
esac

# CPU accounting: this script, and so the prefix's wineserver and services started below, in
# a cpuacct group of their own.
acctRoot=/sys/fs/cgroup/cpuacct
cg=
if [ "${CPU_ACCT:-1}" = 1 ] && [ -w "$acctRoot/cgroup.procs" ] && mkdir "$acctRoot/zqbench-$$" 2>/dev/null; then
    if echo $$ >"$acctRoot/zqbench-$$/cgroup.procs" 2>/dev/null; then
        cg=$acctRoot/zqbench-$$
    else
        rmdir "$acctRoot/zqbench-$$"
    fi
fi
cpuNow() { if [ -n "$cg" ]; then cat "$cg/cpuacct.usage"; else echo 0; fi; }

stopPrefix() {
    bash "$src/tests/wineprefix.sh" stop "$prefix" >/dev/null 2>&1
    [ "${KEEP_PREFIX:-0}" = 1 ] || rm -rf "$prefix"
    if [ -n "$cg" ]; then
        echo $$ >"$acctRoot/cgroup.procs" 2>/dev/null
        for i in 1 2 3 4 5 6 7 8 9 10; do rmdir "$cg" 2>/dev/null && break; sleep 1; done
    fi
}
trap stopPrefix EXIT
trap 'exit 130' INT TERM HUP

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
bash "$src/tests/wineprefix.sh" start "$prefix" "$build" || exit 1
work=$prefix/drive_c/zqbench/work
rm -rf "$results"
mkdir -p "$work" "$results"
cp "$build/zqclean64.exe" "$src/tests/bench/clean.cmd" "$work/"
workWin='C:\zqbench\work'

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

seed() {
    (cd "$work" && wine 'X:\bench\bench_seed.exe' seed "$workWin") >"$results/seed.out" 2>&1 || {
        echo "seeding failed:"; cat "$results/seed.out"; return 1; }
    if [ "${SAVE_WAIT:-1}" = 1 ]; then
        # The wineserver writes changed registry branches every 30 s; wait for the save of
        # the seeded keys, then the timed run has the next 30 s to itself.
        local mark=$(now) i
        for i in $(seq 1 80); do
            local sys=$(stat -c %.9Y "$prefix/system.reg") usr=$(stat -c %.9Y "$prefix/user.reg")
            if awk -v m="$mark" -v s="$sys" -v u="$usr" 'BEGIN { exit !(s > m && u > m) }'; then
                break
            fi
            sleep 0.5
        done
    fi
    # Nothing of the seeding may still be on its way to the disk during the timed run.
    sync
    return 0
}

verify() {
    (cd "$work" && wine 'X:\bench\bench_seed.exe' verify "$1") 2>&1
}

# run NAME REP: seeds, times the contender's whole process, verifies; appends to the tables.
declare -A times cpus status
run() {
    local name=$1 rep=$2 t0 t1 rc out check
    if [ "$name" = draft ]; then
        # The snapshot a draft compares with: the machine before the product, untimed.
        (cd "$work" && wine 'X:\bench\bench_seed.exe' wipe && wine 'C:\zqbench\work\zqclean64.exe' -snapshot) >/dev/null 2>&1
    fi
    seed || return 1
    rm -f "$prefix/drive_c/zqclean.log"
    local c0 c1
    c0=$(cpuNow)
    case $name in
    zqclean)
        t0=$(now); (cd "$work" && wine 'C:\zqbench\work\zqclean64.exe' -s) >"$results/$name-$rep.out" 2>&1; rc=$?; t1=$(now)
        [ "$rc" = 255 ] || echo "  zqclean64 exit code $rc (a completed run gives 255, i.e. -1)"
        cp "$prefix/drive_c/zqclean.log" "$results/zqclean-$rep.log" 2>/dev/null ;;
    backup)
        printf '[general]\r\nbackup=C:\\zqbench\\saved\r\n' >>"$work/zqclean.ini"
        rm -rf "$prefix/drive_c/zqbench/saved"
        t0=$(now); (cd "$work" && wine 'C:\zqbench\work\zqclean64.exe' -s) >"$results/$name-$rep.out" 2>&1; rc=$?; t1=$(now)
        [ "$rc" = 255 ] || echo "  zqclean64 exit code $rc (a completed run gives 255, i.e. -1)"
        cp "$prefix/drive_c/zqclean.log" "$results/backup-$rep.log" 2>/dev/null
        local manifest=$(ls "$prefix"/drive_c/zqbench/saved/*/manifest.json 2>/dev/null | head -1)
        echo "  backup: $(grep -c '"original"' "$manifest" 2>/dev/null || echo no) items in the manifest, $(du -sm "$prefix/drive_c/zqbench/saved" 2>/dev/null | cut -f1) MB"
        rm -rf "$prefix/drive_c/zqbench/saved" ;;
    preview)
        t0=$(now); (cd "$work" && wine 'C:\zqbench\work\zqclean64.exe' -preview) >"$results/$name-$rep.out" 2>&1; rc=$?; t1=$(now)
        [ "$rc" = 255 ] || echo "  zqclean64 -preview exit code $rc (a completed preview gives 255, i.e. -1)"
        cp "$prefix/drive_c/zqclean.preview.log" "$results/preview-$rep.log" 2>/dev/null ;;
    snapshot|draft)
        t0=$(now); (cd "$work" && wine 'C:\zqbench\work\zqclean64.exe' -$name) >"$results/$name-$rep.out" 2>&1; rc=$?; t1=$(now)
        cp "$prefix/drive_c/zqclean.log" "$results/$name-$rep.log" 2>/dev/null
        tail -1 "$prefix/drive_c/zqclean.log" | grep -q -- '----' || echo "  $name did not complete"
        [ "$name" = snapshot ] && echo "  snapshot: $(stat -c %s "$prefix/drive_c/zqclean.snapshot") bytes"
        [ "$name" = draft ] && echo "  draft: $(grep -c . "$work/zqclean.draft.ini") lines, $(sed -n 's/.*\t\([0-9]* entries.*\)/\1/p' "$results/draft-$rep.log" | tr -d '\r')" ;;
    walk)
        t0=$(now); (cd "$work" && wine 'X:\bench\bench_walk.exe') >"$results/$name-$rep.out" 2>&1; rc=$?; t1=$(now) ;;
    inproc)
        t0=$(now); (cd "$work" && wine 'X:\bench\bench_inproc.exe' "$workWin") >"$results/$name-$rep.out" 2>&1; rc=$?; t1=$(now)
        cp "$prefix/drive_c/zqclean.log" "$results/inproc-$rep.log" 2>/dev/null ;;
    baseline)
        t0=$(now); (cd "$work" && wine 'X:\bench\bench_baseline.exe') >"$results/$name-$rep.out" 2>&1; rc=$?; t1=$(now) ;;
    cmd)
        t0=$(now); (cd "$work" && "$wine64" cmd /c clean.cmd) >"$results/$name-$rep.out" 2>&1; rc=$?; t1=$(now) ;;
    esac
    c1=$(cpuNow)
    check=$(verify "$(case $name in preview|snapshot|draft|walk) echo seeded ;; *) echo clean ;; esac)")
    local verified=$? secs=$(elapsed "$t0" "$t1")
    local cpu=$(awk -v a="$c0" -v b="$c1" 'BEGIN { printf "%.2f", (b - a) / 1e9 }')
    if [ "$verified" = 0 ]; then
        times[$name]="${times[$name]:-} $secs"
        cpus[$name]="${cpus[$name]:-} $cpu"
    else
        status[$name]="${status[$name]:-}FAIL(rep $rep) "
        secs="$secs!"
    fi
    [ "$name" = zqclean ] && zqTimes="${zqTimes:-} ${secs%!}"
    printf '  %-9s rep %d: %8s s  (cpu %s s)  %s\n' "$name" "$rep" "$secs" "$cpu" "$check"
    [ -s "$results/$name-$rep.out" ] && sed 's/^/      /' "$results/$name-$rep.out" | head -5
    return 0
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for rep in $(seq 1 "$reps"); do
    echo "repetition $rep (load $(cut -d' ' -f1-3 /proc/loadavg))"
    for name in $contenders; do
        [ "$name" = cmd ] && [ "$rep" -gt "$cmdReps" ] && continue
        run "$name" "$rep"
    done
done

partsOut=
if [ "${PARTS:-1}" = 1 ] && [ -f "$build/bench/bench_parts.exe" ] && seed; then
    partsOut=$( (cd "$work" && wine 'X:\bench\bench_parts.exe' 3) 2>&1)
fi

# Per-phase time of a cleaning run log: the time from each stamped line to the next one.
phases() {
    tr -d '\r' <"$1" | awk -F'\t' '/^\[[0-9][0-9][0-9][0-9]\/[0-9][0-9]\/[0-9][0-9] [0-9:]+,[0-9][0-9][0-9]\]/ {
        split(substr($1, 13, 12), p, /[:,]/)
        t = p[1] * 3600 + p[2] * 60 + p[3] + p[4] / 1000
        if (have) printf "    %7.3f s  %s\n", t - last, text
        text = $2; last = t; have = 1
    }'
}

# Seconds from the first to the last stamp of a run log.
span() {
    tr -d '\r' <"$1" | awk -F'\t' '/^\[[0-9][0-9][0-9][0-9]\/[0-9][0-9]\/[0-9][0-9] [0-9:]+,[0-9][0-9][0-9]\]/ {
        split(substr($1, 13, 12), p, /[:,]/)
        t = p[1] * 3600 + p[2] * 60 + p[3] + p[4] / 1000
        if (!have) first = t
        last = t; have = 1
    } END { if (have) printf "%.2f", last - first; else print "-" }'
}

echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
printf '%-26s %-22s %7s   %-22s %7s\n' "contender (whole process)" "wall runs (s)" "median" "cpu runs (s)" "median"
declare -A med cmed
for name in $contenders; do
    case $name in
    zqclean) label="zqclean64.exe -s" ;;
    backup) label="zqclean64.exe -s, backup" ;;
    preview) label="zqclean64.exe -preview" ;;
    snapshot) label="zqclean64.exe -snapshot" ;;
    draft) label="zqclean64.exe -draft" ;;
    walk) label="bench_walk.exe" ;;
    inproc) label="RunCleaning in-process" ;;
    baseline) label="bench_baseline.exe" ;;
    cmd) label="clean.cmd (wine64 cmd)" ;;
    esac
    med[$name]=$(echo "${times[$name]:-}" | median)
    cmed[$name]=$(echo "${cpus[$name]:-}" | median)
    [ -n "$cg" ] || cmed[$name]=-
    printf '%-26s %-22s %7s   %-22s %7s %s\n' "$label" "${times[$name]:-}" "${med[$name]}" "${cpus[$name]:-}" "${cmed[$name]}" "${status[$name]:-}"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }'; }
echo
[ -n "${med[zqclean]:-}" ] && [ -n "${med[baseline]:-}" ] &&
    echo "ratio zqclean64 / baseline (medians): wall $(ratio "${med[zqclean]}" "${med[baseline]}"), cpu $(ratio "${cmed[zqclean]}" "${cmed[baseline]}")   (goal: at most 1.25)"
[ -n "${med[backup]:-}" ] && [ -n "${med[zqclean]:-}" ] &&
    echo "ratio run with backup / without:      wall $(ratio "${med[backup]}" "${med[zqclean]}"), cpu $(ratio "${cmed[backup]}" "${cmed[zqclean]}")   (goal: at most 2)"
[ -n "${med[preview]:-}" ] && [ -n "${med[zqclean]:-}" ] &&
    echo "ratio preview / run:                  wall $(ratio "${med[preview]}" "${med[zqclean]}"), cpu $(ratio "${cmed[preview]}" "${cmed[zqclean]}")   (goal: at most 1)"
[ -n "${med[snapshot]:-}" ] && [ -n "${med[walk]:-}" ] &&
    echo "ratio snapshot / walk:                wall $(ratio "${med[snapshot]}" "${med[walk]}"), cpu $(ratio "${cmed[snapshot]}" "${cmed[walk]}")   (goal: at most 2)"
[ -n "${med[draft]:-}" ] && [ -n "${med[walk]:-}" ] &&
    echo "ratio draft / walk:                   wall $(ratio "${med[draft]}" "${med[walk]}"), cpu $(ratio "${cmed[draft]}" "${cmed[walk]}")   (goal: at most 2)"
[ -n "${med[inproc]:-}" ] && [ -n "${med[baseline]:-}" ] &&
    echo "ratio in-process run / baseline:      wall $(ratio "${med[inproc]}" "${med[baseline]}"), cpu $(ratio "${cmed[inproc]}" "${cmed[baseline]}")"
[ -n "${med[cmd]:-}" ] && [ -n "${med[zqclean]:-}" ] &&
    echo "ratio cmd script / zqclean64:         wall $(ratio "${med[cmd]}" "${med[zqclean]}"), cpu $(ratio "${cmed[cmd]}" "${cmed[zqclean]}")"
# The files phase of a cleaning run log: from the stamp before its header (the masks are
# expanded before it) to its summary; of the plain program, its own lap of the files.
filesPhase() {
    tr -d '\r' <"$1" | awk -F'\t' '/^\[[0-9][0-9][0-9][0-9]\/[0-9][0-9]\/[0-9][0-9] [0-9:]+,[0-9][0-9][0-9]\]/ {
        split(substr($1, 13, 12), p, /[:,]/)
        t = p[1] * 3600 + p[2] * 60 + p[3] + p[4] / 1000
        if ($2 ~ /^Delete files\(/) start = before
        if ($2 ~ /files are deleted/ && start != "") { printf "%.2f", t - start; exit }
        before = t
    }'
}
zqFiles= baseFiles=
for rep in $(seq 1 "$reps"); do
    [ -f "$results/zqclean-$rep.log" ] && zqFiles="$zqFiles $(filesPhase "$results/zqclean-$rep.log")"
    [ -f "$results/baseline-$rep.out" ] && baseFiles="$baseFiles $(sed -n 's/.* files \([0-9.]*\) .*/\1/p' "$results/baseline-$rep.out")"
done
if [ -n "$zqFiles" ] && [ -n "$baseFiles" ]; then
    zf=$(echo "$zqFiles" | median) bf=$(echo "$baseFiles" | median)
    echo "files phase (wall, s): zqclean64$zqFiles, median $zf; baseline$baseFiles, median $bf; ratio $(ratio "$zf" "$bf")   (goal: at most 1.25)"
fi
if [ -f "$results/zqclean-1.log" ]; then
    echo
    echo "zqclean64: whole process vs. the cleaning run's own span (first to last log stamp):"
    rep=0
    for secs in ${zqTimes:-}; do
        rep=$((rep + 1))
        s=$(span "$results/zqclean-$rep.log")
        echo "  repetition $rep: whole $secs s, run $s s, launch and service overhead $(awk -v a="$secs" -v b="$s" 'BEGIN { printf "%.2f", a - b }') s"
    done
fi
# The phases of the last repetition that left a log of this kind.
lastPhases() {
    local kind=$1 label=$2 rep
    for rep in $(seq "$reps" -1 1); do
        if [ -f "$results/$kind-$rep.log" ]; then
            echo
            echo "$label (repetition $rep, from the run log's stamps):"
            phases "$results/$kind-$rep.log"
            return
        fi
    done
}
lastPhases zqclean "zqclean64 phases"
lastPhases inproc "in-process run phases"
lastPhases backup "zqclean64 with a backup, phases"
for rep in $(seq "$reps" -1 1); do
    if [ -f "$results/baseline-$rep.out" ]; then
        echo
        echo "baseline phases (repetition $rep): $(grep 'seconds' "$results/baseline-$rep.out")"
        break
    fi
done
if [ -n "$partsOut" ]; then
    echo
    echo "primitives on the seeded product (medians of 3, alternating):"
    echo "$partsOut" | sed 's/^/  /'
fi
echo
echo "logs and outputs: $results"
exit 0

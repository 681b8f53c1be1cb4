#!/bin/bash
# The main job, end to end: builds zqclean64.exe, makes a scratch Wine prefix inside the build
# tree, leaves an example product's remains in it, runs "zqclean64.exe -s" there with
# examples/zqclean.ini as the script of its working directory, and shows the run log and what
# was removed. On a fresh Debian 12 machine it first installs what is missing.
set -uo pipefail
cd "$(dirname "$0")"
root=$PWD

bash tests/install-deps.sh || exit 1
echo "=== build (win64)"
cmake --preset win64 >/dev/null || exit 1
cmake --build --preset win64 -j2 >/dev/null || { cmake --build --preset win64 -j1; exit 1; }

build=$root/build/win64
export WINEPREFIX=$build/demo-prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
echo "=== scratch Wine prefix: $WINEPREFIX (takes about 20 s)"
bash tests/wineprefix.sh start "$WINEPREFIX" "$build" >/dev/null || exit 1
trap 'bash "$root/tests/wineprefix.sh" stop "$WINEPREFIX" >/dev/null' EXIT

bash examples/seed-demo.sh "$WINEPREFIX" "$build" || exit 1
. examples/seed-demo.sh --checks

# Prints "a|b|c" lines as aligned columns, long items shortened in the middle (plain awk: no
# column(1), which a minimal Debian lacks).
table() {
    awk -F '|' '{ for (i = 1; i <= NF; ++i) {
                      cell[NR, i] = $i
                      if (i == 1 && length($i) > 80) cell[NR, i] = substr($i, 1, 52) "..." substr($i, length($i) - 24)
                      if (length(cell[NR, i]) > width[i]) width[i] = length(cell[NR, i]) }
                  fields[NR] = NF }
         END { for (r = 1; r <= NR; ++r) { line = ""
                   for (i = 1; i <= fields[r]; ++i) line = line sprintf("%-" width[i] "s  ", cell[r, i])
                   sub(/ +$/, "", line); print line } }'
}

echo "=== before the run"
before=$(demo_checks)
echo "$before" | table

echo
echo "=== zqclean64.exe -s in C:\\zqdemo (script: examples/zqclean.ini)"
(cd "$WINEPREFIX/drive_c/zqdemo" && wine 'X:\zqclean64.exe' -s </dev/null >/dev/null 2>&1)
code=$?
echo "exit code: $code (255 is the status -1 of a completed run; 1 is a refused run)"
echo
echo "=== run log C:\\zqclean.log"
tr -d '\r' < "$WINEPREFIX/drive_c/zqclean.log"

echo
echo "=== what the run removed"
after=$(demo_checks)
{ echo "item|before|after"; paste -d '|' <(echo "$before") <(echo "$after" | cut -d '|' -f 2); } | table
pending=$(/usr/lib/wine/wine64 reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations </dev/null 2>/dev/null | tr -d '\r' | grep -i pending)
echo
echo "scheduled for deletion at the next restart: ${pending:-nothing}"
if /usr/lib/wine/wine64 reg query 'HKLM\System\CurrentControlSet\Services\zqcleansrvc' \
    </dev/null >/dev/null 2>&1; then
    echo "service zqcleansrvc: still installed (unexpected)"
else
    echo "service zqcleansrvc: gone"
fi
[ "$code" -eq 255 ]

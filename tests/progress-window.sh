#!/bin/bash
# The progress window of an interactive launch, on a display of its own (Xvfb) and driven as a
# person would (xdotool): it shows with the phase, a bar that advances and Cancel, and a completed
# run then shows the final message; Cancel, clicked or as Esc, stops the run at its next check,
# with no closing line and no message. The assembly tool stand-in is made slow so that the run
# lasts a few seconds.
#   progress-window.sh PROGRAM STANDINS   (WINEPREFIX: the tests' prefix)
set -uo pipefail
program=$(realpath "$1")
standins=$(realpath "$2")
for fd in /proc/$$/fd/*; do
    n=${fd##*/}
    [ "$n" -gt 2 ] 2>/dev/null && eval "exec $n>&-"
done
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "Xvfb and xdotool are needed" >&2; exit 1; }

status=0
fail() { echo "FAIL ($name): $*"; status=1; }
# Polls a command (every 0.2 s) until it succeeds or the seconds are over.
within() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

# Wine's desktop stays on the display it was started on, none for the tests before: the
# prefix's processes start again (every window of a case that failed goes with them).
restart_prefix() {
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
}
# A display of our own, whatever number is free; at the end the prefix goes back to none.
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'unset DISPLAY; restart_prefix; kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -rf "$tmp"' EXIT
within 10 test -s "$tmp/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$tmp/display")
restart_prefix

controls() { wine "$standins/window_probe.exe" "ZU Rovid Cleaning" 2>/dev/null | tr -d '\r' >"$tmp/controls"; }
shows() { controls && grep -q "$1" "$tmp/controls"; }
bar() { awk -F'|' '$1 == "msctls_progress32" { print $4 }' "$tmp/controls"; }
bar_beyond() { controls && [ "$(bar)" -gt "$1" ] 2>/dev/null; }
message_shows() { xdotool search --onlyvisible --name '^ZU Rovid$' >/dev/null; }
ended() { ! kill -0 "$launcher" 2>/dev/null; }
# The launcher's exit code once it has ended by itself within the seconds (it is ended otherwise).
exit_code() {
    within "$1" ended || { fail "the launcher did not end by itself"; kill "$launcher"; }
    wait "$launcher"
}

# C:\zqtest\<name>: a file (the phase before the assemblies), three assemblies that take the
# given time each, a folder (the phase after them); then the launch, interactive.
launch() {
    dir=$WINEPREFIX/drive_c/zqtest/$name
    rm -rf "$dir" && mkdir -p "$dir/keep" && echo data >"$dir/file.txt" && cp "$standins/gacutil.exe" "$dir/"
    echo "0 $1" >"$dir/gacutil.exitcode"
    printf '[files]\r\nC:\\zqtest\\%s\\file.txt\r\n[.NET]\r\nOne\r\nTwo\r\nThree\r\n[folders]\r\nC:\\zqtest\\%s\\keep\r\n' \
        "$name" "$name" >"$dir/zqclean.ini"
    (cd "$dir" && exec wine "$program" </dev/null >/dev/null 2>&1) &
    launcher=$!
    within 5 controls || fail "no window within 5 s"
}
log() { tr -d '\r' <"$WINEPREFIX/drive_c/zqclean.log"; }
closing=$(printf '%092d' 0 | tr 0 -)

name=completed
launch 1500
within 5 shows '^Static|Delete \.NET dlls from GAC|' && grep -q '^Button|Cancel|' "$tmp/controls" &&
    first=$(bar) && [ -n "$first" ] || fail "no phase, Cancel or bar: $(cat "$tmp/controls")"
within 10 bar_beyond "${first:-0}" || fail "the bar stays at $first"
within 20 message_shows || fail "no final message"
controls && fail "the window is still there with the final message"
xdotool key Return
exit_code 10; [ $? -eq 255 ] || fail "exit code not -1"
[ "$(log | tail -n 1)" = "$closing" ] && [ "$(wc -l <"$dir/gacutil.args")" -eq 3 ] || fail "the run did not complete"

for way in "key Escape" "click"; do
    name=cancel-${way#* }
    launch 2500
    within 10 test -s "$dir/gacutil.args" || fail "the .NET phase did not begin"
    if [ "$way" = click ]; then
        controls
        read -r x y < <(awk -F'|' '$1 == "Button" { print $3 }' "$tmp/controls")
        xdotool mousemove "$x" "$y" click 1
    else
        xdotool $way
    fi
    # A message box would hold the launcher.
    exit_code 15; [ $? -eq 255 ] || fail "exit code not -1"
    message_shows && fail "a final message after Cancel"
    log | grep -q 'file.txt\.\.\.OK' || fail "the files phase is not done"
    log | grep -q -e "$closing" -e 'dlls are deleted' -e 'Delete folders' && fail "the run went on"
    [ "$(wc -l <"$dir/gacutil.args")" -lt 3 ] && [ -d "$dir/keep" ] || fail "the rest of the run was done"
done
rm -rf "$WINEPREFIX/drive_c/zqtest/completed" "$WINEPREFIX/drive_c/zqtest/cancel-"*
[ $status -eq 0 ] && echo "progress window: shown, completed, cancelled by key and click"
exit $status

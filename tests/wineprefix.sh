#!/bin/bash
# Creates or stops the scratch Wine prefix of one build's test run.
#   wineprefix.sh start PREFIX XDIR   new prefix; X: is XDIR, no Z:, no links into $HOME
#   wineprefix.sh stop PREFIX         ends the prefix's wineserver
set -u
action=$1
prefix=$2
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A wineserver started from here must not hold the caller's pipes open (CTest would wait for
# it forever): every Wine command gets /dev/null and no inherited descriptor above 2.
for fd in /proc/$$/fd/*; do
    n=${fd##*/}
    [ "$n" -gt 2 ] 2>/dev/null && eval "exec $n>&-"
done
quiet() { "$@" </dev/null >/dev/null 2>&1; }

case $action in
start)
    xdir=$3
    if [ -d "$prefix" ]; then
        quiet wineserver -k
        rm -rf "$prefix"
    fi
    mkdir -p "$prefix"
    quiet wineboot -i
    quiet wineserver -w
    [ -d "$prefix/drive_c/windows" ] || { echo "wineboot did not create $prefix" >&2; exit 1; }
    # Nothing outside the build tree is reachable: drop Z: (the Linux root), map X: to XDIR,
    # and replace the shell folders that link into $HOME by empty folders.
    rm -f "$prefix/dosdevices/z:"
    ln -sfn "$xdir" "$prefix/dosdevices/x:"
    # Every link below users, at any depth (Templates lies five levels down), becomes a folder.
    find "$prefix/drive_c/users" -type l | while read -r link; do
        rm -f "$link"
        mkdir -p "$link"
    done
    if [ -n "$(find "$prefix/drive_c" -type l -lname '/*' -print -quit)" ]; then
        echo "a link out of the prefix is left in $prefix/drive_c" >&2
        exit 1
    fi
    quiet wineserver -p
    quiet wine wineboot
    echo "prefix ready: $prefix"
    ;;
stop)
    [ -d "$prefix" ] && quiet wineserver -k
    echo "prefix stopped: $prefix"
    ;;
*)
    echo "usage: $0 start PREFIX XDIR | stop PREFIX" >&2
    exit 2
    ;;
esac
exit 0

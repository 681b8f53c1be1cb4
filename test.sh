#!/bin/bash
# Builds zqclean64.exe and zqclean32.exe and runs every test of both builds under Wine.
# On a fresh Debian 12 machine it first installs what is missing.
set -uo pipefail
cd "$(dirname "$0")"
bash tests/install-deps.sh || exit 1

status=0
for preset in win64 win32; do
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null || { status=1; continue; }
    cmake --build --preset "$preset" -j2 || { status=1; continue; }
    echo "=== $preset: tests"
    ctest --preset "$preset" </dev/null || status=1
done
exit $status

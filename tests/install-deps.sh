#!/bin/bash
# Installs what building, testing and the demo of zqclean need on Debian 12, when it is missing:
# the mingw-w64 C++ compilers (posix threads) for both targets, Wine for 64- and 32-bit
# programs, CMake, the GoogleTest sources, nlohmann/json (the report), Ansible and ansible-lint
# (the check of the Ansible example; Debian's ansible brings the ansible.windows collection), and
# for the progress window a display of its own, input to it and pictures of it (Xvfb, xdotool,
# ImageMagick).
set -euo pipefail
packages=(cmake make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386 googletest nlohmann-json3-dev
          ansible ansible-lint xvfb xdotool imagemagick)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "zqclean: these packages are missing: ${missing[*]}" >&2
        echo "zqclean: installing them needs root: run this command as root, or install sudo" >&2
        exit 1
    fi
    sudo=sudo
fi
echo "=== installing ${missing[*]} (a fresh machine takes 2 to 3 minutes)"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
# apt's own lines (downloads, unpacking, set-up) are the progress.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q -o Dpkg::Use-Pty=0 "${missing[@]}" |
    { grep --line-buffered -E '^(Get:|Unpacking|Setting up|E:)' | sed -u 's/^/  /'; true; }
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || { echo "zqclean: apt-get install failed ($status)" >&2; exit 1; }
echo "=== installed"

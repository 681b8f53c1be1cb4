#!/bin/bash
# Leaves the remains of the example product "Example Tools" in a scratch Wine prefix, as an
# uninstaller that did not finish would: files and folders (with their 32-bit twins), a file
# held open so that it can only go at the next restart, registry keys and values in both
# registry views, a driver service, an INF file with its .pnf, the device's keys, and the
# setup file types.
#   seed-demo.sh PREFIX BUILD   seeds PREFIX (started, X: = BUILD) and writes C:\zqdemo
#   . seed-demo.sh --checks     defines demo_checks: one "item|present/removed" line per item
set -u

demo_guid='{6d0e3a11-5c2b-4e7f-9a10-000000e4a3b1}'
reg64() { /usr/lib/wine/wine64 reg "$@" </dev/null >/dev/null 2>&1; }

# Items the summary shows: "file:<path below drive_c>" or "key:<key>" or "value:<key>|<name>".
demo_items=(
    "file:Program Files/Example Tools/ExampleTray.exe"
    "file:Program Files/Example Tools/lang/en.dat"
    "file:Program Files (x86)/Example Tools/ExampleTray32.exe"
    "file:Program Files/Common Files/Example Shared/shared.dll"
    "file:Program Files (x86)/Common Files/Example Shared/shared32.dll"
    "file:ProgramData/Example Tools/settings.xml"
    "file:windows/system32/drivers/examplefilt.sys"
    "file:windows/system32/exampleapi.dll"
    "file:windows/syswow64/exampleapi.dll"
    "file:ExampleCache/example-1.tmp"
    "file:ExampleCache/example-2.tmp"
    "file:ExampleCache/keep.txt"
    "file:windows/inf/oem42.inf"
    "file:windows/inf/oem42.pnf"
    "key:HKLM\\SOFTWARE\\Example Tools"
    "key:HKLM\\SOFTWARE\\Wow6432Node\\Example Tools"
    "value:HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run|ExampleTray"
    "key:HKLM\\SYSTEM\\CurrentControlSet\\Services\\examplefilt"
    "key:HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\EXAMPLEFLT"
    "key:HKLM\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\$demo_guid\\##?#ROOT#EXAMPLEFLT#0000#$demo_guid"
    "key:HKCR\\KDSetup"
    "key:HKCR\\.kds"
    "key:HKCR\\KDSetup32"
    "key:HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ"
    "value:HKLM\\SOFTWARE\\Wow6432Node\\ZQ|Modules.x64"
)

demo_checks() {
    local item kind what state
    for item in "${demo_items[@]}"; do
        kind=${item%%:*}
        what=${item#*:}
        state=removed
        case $kind in
        file) [ -e "$WINEPREFIX/drive_c/$what" ] && state=present; what="C:/$what" ;;
        key) reg64 query "$what" && state=present ;;
        value) reg64 query "${what%|*}" /v "${what#*|}" && state=present
               what="${what%|*} : ${what#*|}" ;;
        esac
        echo "$what|$state"
    done
}

[ "${1:-}" = "--checks" ] && return 0 2>/dev/null

prefix=$1
build=$2
export WINEPREFIX=$prefix
c=$prefix/drive_c
here=$(cd "$(dirname "$0")" && pwd)

echo "=== seeding the remains of \"Example Tools\""
for item in "${demo_items[@]}"; do
    case $item in
    file:*) path="$c/${item#file:}"; mkdir -p "$(dirname "$path")"; echo "example" > "$path" ;;
    esac
done
printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=System\r\n[Strings]\r\nDesc="Example Tools Filter Driver"\r\nService=examplefilt\r\n' > "$c/windows/inf/oem42.inf"

reg64 add 'HKLM\SOFTWARE\Example Tools' /v InstallDir /d 'C:\Program Files\Example Tools' /f
reg64 add 'HKLM\SOFTWARE\Example Tools\Components' /v Tray /t REG_DWORD /d 1 /f
reg64 add 'HKLM\SOFTWARE\Wow6432Node\Example Tools' /v InstallDir /d 'C:\Program Files (x86)\Example Tools' /f
reg64 add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' /v ExampleTray /d 'C:\Program Files\Example Tools\ExampleTray.exe' /f
reg64 add 'HKLM\SYSTEM\CurrentControlSet\Services\examplefilt' /v ImagePath /d 'system32\drivers\examplefilt.sys' /f
reg64 add 'HKLM\SYSTEM\CurrentControlSet\Services\examplefilt' /v Type /t REG_DWORD /d 1 /f
reg64 add 'HKLM\SYSTEM\CurrentControlSet\Services\examplefilt\Enum' /v 0 /d 'ROOT\EXAMPLEFLT\0000' /f
reg64 add 'HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\EXAMPLEFLT\0000' /v Service /d examplefilt /f
reg64 add "HKLM\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\$demo_guid\\##?#ROOT#EXAMPLEFLT#0000#$demo_guid\\#" /v SymbolicLink /d x /f
for id in KDSetup KDSetup32; do
    reg64 add "HKCR\\$id\\DefaultIcon" /ve /d 'setup.exe,0' /f
    reg64 add "HKCR\\$id\\shell\\install\\command" /ve /d 'setup.exe "%1"' /f
    reg64 add "HKCR\\$id\\shell\\open\\command" /ve /d 'setup.exe "%1"' /f
done
reg64 add 'HKCR\.kds' /ve /d KDSetup /f
reg64 add 'HKCR\.kds32' /ve /d KDSetup32 /f
reg64 add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ZQ' /v DisplayName /d 'Example Tools' /f
reg64 add 'HKLM\SOFTWARE\Wow6432Node\ZQ' /v Modules.x64 /d 1 /f

# The working directory with the script.
mkdir -p "$c/zqdemo"
cp "$here/zqclean.ini" "$c/zqdemo/zqclean.ini"

# A program of the product still running: it holds exampleapi.dll open without sharing.
(cd "$c" && wine 'X:\standins\locker.exe' 'C:\windows\system32\exampleapi.dll' zqdemo.ready zqdemo.release \
    </dev/null >/dev/null 2>&1 &)
sleep 3
echo "seeded; C:\\windows\\system32\\exampleapi.dll is held open by a running program"

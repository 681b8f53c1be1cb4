#!/bin/bash
# Fails when the program imports a function that Windows XP does not have: such a program is
# refused by the loader there before it runs a line. Newer calls are looked up at run time.
#   older-windows.sh PROGRAM.exe
set -u
program=$1
# Imports as "DLL!function", from the import tables objdump lists.
imports=$(x86_64-w64-mingw32-objdump -p "$program" | awk '
    /DLL Name:/ { dll = toupper($3); next }
    /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ && dll != "" { print dll "!" $3 }
    /^$/ { dll = "" }')
[ -n "$imports" ] || { echo "no imports read from $program" >&2; exit 1; }
newer='^KERNEL32\.DLL!(GetTickCount64|SetDllDirectory[AW]|GetFinalPathNameByHandle[AW]|SetDefaultDllDirectories|'
newer+='AddDllDirectory|CreateSymbolicLink[AW]|GetFileInformationByHandleEx|SetFileInformationByHandle|'
newer+='InitializeSRWLock|AcquireSRWLock.*|ReleaseSRWLock.*|InitOnce.*|.*ConditionVariable.*|CompareStringEx|'
newer+='LocaleNameToLCID|GetLocaleInfoEx|CreateFile2|GetErrorMode|Wow64.*FsRedirection|CopyFile2|'
newer+='CancelIoEx|QueryFullProcessImageName[AW]|GetSystemTimePreciseAsFileTime)$'
newer+='|^ADVAPI32\.DLL!(RegDeleteTree[AW]|RegGetValue[AW]|RegDeleteKeyEx[AW]|RegCopyTree[AW]|RegSetKeyValue[AW]|'
newer+='RegDeleteKeyValue[AW]|RegLoadAppKey[AW]|ChangeServiceConfig2[AW]|QueryServiceStatusEx)$'
newer+='|^MSVCRT\.DLL!.*_s$'
found=$(printf '%s\n' "$imports" | grep -E "$newer")
if [ -n "$found" ]; then
    echo "$program imports what Windows XP lacks:"
    printf '  %s\n' $found
    exit 1
fi
echo "$program: $(printf '%s\n' "$imports" | wc -l) imports, none newer than Windows XP"

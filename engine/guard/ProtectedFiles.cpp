// The files the system protects, the file a registry command names, and what a mask names.
#include <wchar.h>

#include "guard/Guard.h"
#include "guard/PlaceTables.h"
#include "platform/ExpandPath.h"
#include "platform/Paths.h"
#include "platform/SystemPaths.h"

namespace {

// Core files of the system, for systems without a protected-file check of their own: refused
// by name in a protected folder.
const wchar_t* const kCoreFiles[] = {
    L"ntoskrnl.exe", L"ntkrnlpa.exe", L"hal.dll",      L"ntdll.dll",    L"kernel32.dll", L"kernelbase.dll",
    L"user32.dll",   L"gdi32.dll",    L"advapi32.dll", L"msvcrt.dll",   L"shell32.dll",  L"ole32.dll",
    L"rpcrt4.dll",   L"sechost.dll",  L"combase.dll",  L"ucrtbase.dll", L"win32k.sys",   L"ci.dll",
    L"smss.exe",     L"csrss.exe",    L"wininit.exe",  L"winlogon.exe", L"services.exe", L"lsass.exe",
    L"svchost.exe",  L"explorer.exe", L"userinit.exe", L"winload.exe",  L"winload.efi",  L"bootmgr",
    L"ntldr",        L"ntdetect.com", L"boot.ini",     L"win.ini",      L"system.ini",   L"regsvr32.exe",
    L"cmd.exe",      L"ntfs.sys",     L"disk.sys",     L"acpi.sys",     L"pci.sys",      L"volmgr.sys",
    L"partmgr.sys",  L"classpnp.sys", L"fltmgr.sys",   L"ksecdd.sys",   L"cng.sys",      L"tcpip.sys",
    L"ndis.sys",     L"mountmgr.sys", L"storport.sys", L"atapi.sys",    L"wdf01000.sys", L"rundll32.exe",
    L"msiexec.exe",  L"msi.dll",      L"oleaut32.dll", L"shlwapi.dll",  L"comctl32.dll", L"comdlg32.dll",
    L"setupapi.dll", L"cfgmgr32.dll", L"ws2_32.dll",   L"wininet.dll",  L"urlmon.dll",   L"mshtml.dll",
    L"crypt32.dll",  L"wintrust.dll", L"secur32.dll",  L"version.dll",  L"imm32.dll",    L"winspool.drv",
    L"spoolsv.exe",  L"rpcss.exe",    L"plugplay.exe", L"dllhost.exe",  L"conhost.exe",  L"notepad.exe",
    L"regedit.exe",  L"iexplore.exe", L"mshta.exe",    L"wscript.exe",  L"cscript.exe",  L"control.exe",
    L"mmc.exe",      L"taskmgr.exe",  L"sfc.dll",      L"sfc_os.dll",   L"userenv.dll",  L"netapi32.dll",
};

// The extensions a file named at the start of a command line ends with.
const wchar_t* const kImageExtensions[] = {L".exe", L".dll", L".sys", L".com", L".ocx", L".cpl", L".drv",
                                          L".scr", L".acm", L".ax",  L".tlb", L".olb", L".efi"};

bool EndsWithImageExtension(const wchar_t* text, size_t length)
{
    for (const wchar_t* extension : kImageExtensions) {
        size_t size = wcslen(extension);
        if (length > size && _wcsnicmp(text + length - size, extension, size) == 0)
            return true;
    }
    return false;
}

// The part of a command line that names its file: quoted, or up to the first blank after a
// known extension ("C:\Program Files\x.exe /a"), or up to the first blank or comma.
size_t ImageLength(const wchar_t* text)
{
    for (size_t i = 0; text[i] != 0; ++i)
        if ((text[i] == L' ' || text[i] == L',') && EndsWithImageExtension(text, i))
            return i;
    size_t whole = wcslen(text);
    return EndsWithImageExtension(text, whole) ? whole : wcscspn(text, L" ,");
}

}  // namespace

bool CommandFile(const wchar_t* command, zqWString* canonical)
{
    zqWString expanded, file, folder;
    if (command == nullptr || !ExpandText(command, &expanded).ok || expanded.buffer == nullptr)
        return false;
    const wchar_t* text = expanded.buffer + wcsspn(expanded.buffer, L" \t");
    if (wcsncmp(text, L"\\??\\", 4) == 0)
        text += 4;
    size_t length;
    if (text[0] == L'"') {
        ++text;
        length = wcscspn(text, L"\"");
    } else {
        length = ImageLength(text);
    }
    Result named = FailedBy(ERROR_INVALID_PARAMETER);
    const wchar_t* below = nullptr;
    // "\SystemRoot\System32\drivers\x.sys" and "System32\drivers\x.sys" lie in the Windows
    // folder; a bare name is what the system finds first, in its own folder.
    if (_wcsnicmp(text, L"\\SystemRoot\\", 12) == 0) {
        named = WindowsFolder(&folder);
        below = text + 12;
        length -= 12;
    } else if (_wcsnicmp(text, L"System32\\", 9) == 0) {
        named = WindowsFolder(&folder);
        below = text;
    } else if (wcschr(text, L'\\') == nullptr || static_cast<size_t>(wcschr(text, L'\\') - text) > length) {
        named = SystemFolder(&folder);
        below = text;
    }
    if (below != nullptr) {
        if (!named.ok || folder.length == 0 ||
            !FormatInto(file, L"%s\\%.*s", folder.Get(), static_cast<int>(length), below))
            return false;
    } else if (!FormatInto(file, L"%.*s", static_cast<int>(length), text)) {
        return false;
    }
    return CanonicalPath(file.Get(), canonical);
}

bool IsProtectedFile(const ProtectedPlaces& places, const wchar_t* canonical)
{
    if (places.isFileProtected != nullptr && places.isFileProtected(nullptr, canonical))
        return true;
    const wchar_t* name = wcsrchr(canonical, L'\\');
    zqWString folder;
    if (name == nullptr || !FormatInto(folder, L"%.*s", static_cast<int>(name - canonical), canonical))
        return true;  // undecidable: refused
    ++name;
    LowerCase(folder.buffer);
    // The system's own INF files: every one the INF folder holds that no product's setup copied
    // there (those are named oem<n>.inf).
    if (places.infFolder.length > 0 && wcscmp(folder.Get(), places.infFolder.Get()) == 0 &&
        _wcsnicmp(name, L"oem", 3) != 0)
        return true;
    if (InSystemTree(places, folder.Get()))
        return true;
    return InNameList(name, kCoreFiles) &&
           IsProtectedFolder(places, folder.Get());
}

bool MaskNamesFiles(const wchar_t* mask)
{
    const wchar_t* dot = wcsrchr(mask, L'.');
    const wchar_t* end = dot != nullptr ? dot : mask + wcslen(mask);
    int literals = 0;
    for (const wchar_t* c = mask; c < end; ++c) {
        if (*c == L'[') {
            // A class is no literal: it stands for a choice.
            while (c < end && *c != L']')
                ++c;
            continue;
        }
        if (*c != L'*' && *c != L'?' && *c != L'.')
            ++literals;
    }
    return literals >= 3;
}

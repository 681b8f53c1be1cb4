#include "platform/SystemPaths.h"

#include <shlobj.h>
#include <knownfolders.h>
#include <wchar.h>

#include "foundation/FillToFit.h"
#include "foundation/Handles.h"
#include "platform/ExpandPath.h"

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);
typedef UINT(WINAPI* FolderFn)(LPWSTR, UINT);

// Looked up at run time: the oldest systems we serve do not export them.
FARPROC KernelCall(const char* name)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

BOOL QueryWow64()
{
    IsWow64ProcessFn isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)(void)>(KernelCall("IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process == nullptr || !isWow64Process(GetCurrentProcess(), &wow64))
        wow64 = FALSE;
    return wow64;
}

Result FolderFrom(FolderFn call, zqWString* folder)
{
    if (call == nullptr)
        return FailedBy(ERROR_CALL_NOT_IMPLEMENTED);
    return FillToFit(folder, [&](wchar_t* buffer, DWORD room) { return LengthOrRoom(call(buffer, room)); });
}

// The shell folders the program asks for: their old numbers and their known-folder ids.
const struct {
    int csidl;
    const KNOWNFOLDERID* id;
} kShellFolders[] = {
    {CSIDL_WINDOWS, &FOLDERID_Windows},
    {CSIDL_SYSTEM, &FOLDERID_System},
    {CSIDL_SYSTEMX86, &FOLDERID_SystemX86},
    {CSIDL_PROGRAM_FILES, &FOLDERID_ProgramFiles},
    {CSIDL_PROGRAM_FILESX86, &FOLDERID_ProgramFilesX86},
    {CSIDL_PROGRAM_FILES_COMMON, &FOLDERID_ProgramFilesCommon},
    {CSIDL_PROGRAM_FILES_COMMONX86, &FOLDERID_ProgramFilesCommonX86},
    {CSIDL_COMMON_APPDATA, &FOLDERID_ProgramData},
    {CSIDL_COMMON_DOCUMENTS, &FOLDERID_PublicDocuments},
    {CSIDL_COMMON_DESKTOPDIRECTORY, &FOLDERID_PublicDesktop},
    {CSIDL_COMMON_PROGRAMS, &FOLDERID_CommonPrograms},
    {CSIDL_COMMON_STARTMENU, &FOLDERID_CommonStartMenu},
    {CSIDL_COMMON_STARTUP, &FOLDERID_CommonStartup},
    {CSIDL_PROFILE, &FOLDERID_Profile},
    {CSIDL_FONTS, &FOLDERID_Fonts},
};

bool ContainsIgnoringCase(const zqList<zqWString>& list, const wchar_t* text)
{
    for (int i = 0; i < list.count; ++i) {
        const zqWString* entry = list.At(i);
        if (entry != nullptr && _wcsicmp(entry->Get(), text) == 0)
            return true;
    }
    return false;
}

#ifdef _WIN64
bool StartsWithIgnoringCase(const wchar_t* path, const zqWString& prefix)
{
    // An empty prefix would make every path a twin candidate.
    return prefix.length > 0 && _wcsnicmp(path, prefix.Get(), static_cast<size_t>(prefix.length)) == 0;
}
#endif

}  // namespace

#ifdef _WIN64
bool TwinPath(const SystemPaths& paths, const wchar_t* path, zqWString* twin)
{
    twin->Assign(L"");
    if (path == nullptr)
        return false;
    const zqWString* from = nullptr;
    const zqWString* to = nullptr;
    if (StartsWithIgnoringCase(path, paths.system32Dir)) {
        from = &paths.system32Dir;
        to = &paths.sysWow64Dir;
    } else if (StartsWithIgnoringCase(path, paths.programFilesDir)) {
        from = &paths.programFilesDir;
        to = &paths.programFilesX86Dir;
    }
    return from != nullptr && to->length > 0 && FormatInto(*twin, L"%s%s", to->Get(), path + from->length);
}
#endif

void SeedSearchDirs(StringList& searchDirs)
{
    zqWString value, expanded;
    if (!EnvironmentValue(L"PATH", &value).ok || value.length == 0)
        return;
    for (wchar_t *token = value.buffer, *next = nullptr; token != nullptr; token = next) {
        next = wcschr(token, L';');
        if (next != nullptr)
            *next++ = 0;
        if (token[0] == 0 || !ExpandPath(token, &expanded).ok)
            continue;
        if (expanded.length > 0 && !ContainsIgnoringCase(searchDirs, expanded.Get()))
            AppendEntry(searchDirs, expanded.Get());
    }

    // Kept with its separators: as a SearchPathW path list it names the drivers folder.
    zqWString drivers;
    if (ExpandPath(L";%SystemRoot%\\system32\\drivers\\;", &drivers).ok && drivers.length > 0 &&
        !ContainsIgnoringCase(searchDirs, drivers.Get()))
        AppendEntry(searchDirs, drivers.Get());
}

void InitSystemPaths(SystemPaths& paths)
{
    paths.isWow64 = QueryWow64();
#ifdef _WIN64
    ExpandPath(L"%SystemRoot%\\system32", &paths.system32Dir);
    ExpandPath(L"%SystemRoot%\\SysWOW64", &paths.sysWow64Dir);
    ExpandPath(L"%ProgramFiles%", &paths.programFilesDir);
    ExpandPath(L"%ProgramFiles(x86)%", &paths.programFilesX86Dir);
#endif
}

Result EnvironmentValue(const wchar_t* name, zqWString* value)
{
    return FillToFit(value, [&](wchar_t* buffer, DWORD room) {
        return LengthOrRoom(GetEnvironmentVariableW(name, buffer, room));
    });
}

Result WindowsFolder(zqWString* folder) { return FolderFrom(GetWindowsDirectoryW, folder); }
Result SystemFolder(zqWString* folder) { return FolderFrom(GetSystemDirectoryW, folder); }
Result SystemWindowsFolder(zqWString* folder) { return FolderFrom(GetSystemWindowsDirectoryW, folder); }
Result SystemWow64Folder(zqWString* folder)
{
    return FolderFrom(reinterpret_cast<FolderFn>(reinterpret_cast<void (*)(void)>(KernelCall("GetSystemWow64DirectoryW"))),
                      folder);
}

Result ShellFolder(int csidl, zqWString* folder)
{
    typedef HRESULT(WINAPI * KnownFolderPathFn)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
    static const KnownFolderPathFn knownFolderPath = reinterpret_cast<KnownFolderPathFn>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleW(L"shell32.dll"), "SHGetKnownFolderPath")));
    for (const auto& known : kShellFolders) {
        if (known.csidl != csidl)
            continue;
        if (knownFolderPath == nullptr) {
            wchar_t path[MAX_PATH];  // the call's own limit
            HRESULT asked = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
            return SUCCEEDED(asked) ? (folder->Assign(path) ? Succeeded() : NoMemory()) : FailedBy(HRESULT_CODE(asked));
        }
        PWSTR path = nullptr;
        HRESULT asked = knownFolderPath(*known.id, 0, nullptr, &path);
        CoTaskMemBlock owned(path);
        if (!SUCCEEDED(asked) || path == nullptr)
            return FailedBy(asked == E_OUTOFMEMORY ? ERROR_NOT_ENOUGH_MEMORY : HRESULT_CODE(asked));
        return folder->Assign(path) ? Succeeded() : NoMemory();
    }
    return FailedBy(ERROR_INVALID_PARAMETER);
}

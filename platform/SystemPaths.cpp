#include "platform/SystemPaths.h"

#include <stdlib.h>
#include <wchar.h>


#include "foundation/Handles.h"
#include "platform/ExpandPath.h"

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);

// Looked up at run time: the oldest systems we serve do not export it.
BOOL QueryWow64()
{
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == nullptr)
        return FALSE;
    FARPROC proc = GetProcAddress(kernel, "IsWow64Process");
    if (proc == nullptr)
        return FALSE;
    IsWow64ProcessFn isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)(void)>(proc));
    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64))
        wow64 = FALSE;
    return wow64;
}

// Expands text into an exact-size malloc block and normalises it like ExpandPathW; null when
// no memory was available. An undefined variable stays in the text as written.
wchar_t* ExpandFixedPath(const wchar_t* text)
{
    DWORD needed = ExpandEnvironmentStringsW(text, nullptr, 0);
    wchar_t* block = static_cast<wchar_t*>(malloc((static_cast<size_t>(needed) + 1) * sizeof(wchar_t)));
    if (block == nullptr)
        return nullptr;
    if (ExpandEnvironmentStringsW(text, block, needed + 1) == 0)
        block[0] = 0;
    block[needed] = 0;
    int length = NormalisePathW(block);
    wchar_t* shrunk = static_cast<wchar_t*>(realloc(block, (static_cast<size_t>(length) + 1) * sizeof(wchar_t)));
    if (shrunk == nullptr) {
        free(block);
        return nullptr;
    }
    return shrunk;
}

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
bool StartsWithIgnoringCase(const wchar_t* path, const wchar_t* prefix)
{
    // An empty prefix would make every path a twin candidate.
    if (prefix == nullptr || prefix[0] == 0)
        return false;
    return _wcsnicmp(path, prefix, wcslen(prefix)) == 0;
}
#endif

}  // namespace

#ifdef _WIN64
bool TwinPath(const SystemPaths& paths, const wchar_t* path, wchar_t twin[kTwinPathUnits])
{
    twin[0] = 0;
    if (path == nullptr)
        return false;
    const wchar_t* from = nullptr;
    const wchar_t* to = nullptr;
    if (StartsWithIgnoringCase(path, paths.system32Dir)) {
        from = paths.system32Dir;
        to = paths.sysWow64Dir;
    } else if (StartsWithIgnoringCase(path, paths.programFilesDir)) {
        from = paths.programFilesDir;
        to = paths.programFilesX86Dir;
    }
    if (from == nullptr || to == nullptr)
        return false;
    const wchar_t* rest = path + wcslen(from);
    // A twin that does not fit is left out: a cut path would name some other folder.
    if (wcslen(to) + wcslen(rest) >= kTwinPathUnits)
        return false;
    wcscpy(twin, to);
    wcscat(twin, rest);
    return true;
}
#endif

void SeedSearchDirs(StringList& searchDirs)
{
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0)
        return;
    HeapBlock raw(malloc(static_cast<size_t>(size) * sizeof(wchar_t)));
    if (!raw.Valid())
        return;
    wchar_t* value = static_cast<wchar_t*>(raw.Get());
    DWORD got = GetEnvironmentVariableW(L"PATH", value, size);
    if (got == 0 || got >= size)
        value[0] = 0;

    for (wchar_t *token = value, *next = nullptr; token != nullptr; token = next) {
        next = wcschr(token, L';');
        if (next != nullptr)
            *next++ = 0;
        if (token[0] == 0)
            continue;
        wchar_t* expanded = nullptr;
        if (!ExpandPathW(token, &expanded))
            continue;
        HeapBlock owned(expanded);
        if (expanded[0] != 0 && !ContainsIgnoringCase(searchDirs, expanded))
            AppendEntry(searchDirs, expanded);
    }

    // Kept with its separators: as a SearchPathW path list it names the drivers folder.
    wchar_t* drivers = ExpandFixedPath(L";%SystemRoot%\\system32\\drivers\\;");
    HeapBlock ownedDrivers(drivers);
    if (drivers != nullptr && drivers[0] != 0 && !ContainsIgnoringCase(searchDirs, drivers))
        AppendEntry(searchDirs, drivers);
}

void InitSystemPaths(SystemPaths& paths)
{
    paths.isWow64 = QueryWow64();
#ifdef _WIN64
    paths.system32Dir = ExpandFixedPath(L"%SystemRoot%\\system32");
    paths.sysWow64Dir = ExpandFixedPath(L"%SystemRoot%\\SysWOW64");
    paths.programFilesDir = ExpandFixedPath(L"%ProgramFiles%");
    paths.programFilesX86Dir = ExpandFixedPath(L"%ProgramFiles(x86)%");
#endif
}

void FreeSystemPaths(SystemPaths& paths)
{
#ifdef _WIN64
    free(paths.system32Dir);
    free(paths.sysWow64Dir);
    free(paths.programFilesDir);
    free(paths.programFilesX86Dir);
    paths.system32Dir = nullptr;
    paths.sysWow64Dir = nullptr;
    paths.programFilesDir = nullptr;
    paths.programFilesX86Dir = nullptr;
#endif
    paths.isWow64 = FALSE;
}

// Links for the tests: symbolic links of files and folders (made on the host where Wine's own
// call is a stub) and registry links.
#include "tests/support/Support.h"

namespace {

// Wine's Unix name of a Windows path, or "" on Windows itself.
std::string UnixName(const std::wstring& path)
{
    typedef char*(CDECL * UnixNameFn)(const wchar_t*);
    UnixNameFn unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
    std::string text = name != nullptr ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

// Runs a program of the host (Wine only) and waits until done says it is.
bool RunOnHost(const wchar_t* program, std::wstring command, bool (*done)(const std::wstring&),
               const std::wstring& path)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // A Unix process is not waited for through its handle: its work is.
    for (int i = 0; i < 100 && !done(path); ++i)
        Sleep(50);
    return done(path);
}

// Gone from its folder's listing (a link that leads nowhere is still listed).
bool IsGone(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(path.c_str(), &data));
    return !find.Valid();
}

}  // namespace

bool IsLink(const std::wstring& path)
{
    typedef DWORD(WINAPI * FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
    FinalPathFn finalPath = reinterpret_cast<FinalPathFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    FileHandle file(CreateFileW(path.c_str(), 0, 7, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid() && GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;  // listed, yet nothing there: a link that leads nowhere
    wchar_t final[1024];
    DWORD length = finalPath != nullptr && file.Valid() ? finalPath(file.Get(), final, 1024, 0) : 0;
    return length > 0 && length < 1024 && _wcsicmp(final + 4, path.c_str()) != 0;
}

// Deleting a link on Wine deletes what it leads to: there the host removes the link itself.
void RemoveLink(const std::wstring& link)
{
    std::string unix = UnixName(link);
    if (unix.empty()) {
        if (!DeleteFileW(link.c_str()))
            RemoveDirectoryW(link.c_str());
        return;
    }
    RunOnHost(L"\\\\?\\unix\\bin\\rm", L"rm -f \"" + Widen(unix) + L"\"", IsGone, link);
}

bool MakeLink(const std::wstring& link, const std::wstring& target)
{
    typedef BOOLEAN(WINAPI * CreateLinkFn)(const wchar_t*, const wchar_t*, DWORD);
    CreateLinkFn createLink = reinterpret_cast<CreateLinkFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
    DWORD attributes = GetFileAttributesW(target.c_str());
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (createLink != nullptr && createLink(link.c_str(), target.c_str(), folder ? 1 : 0) && PathExists(link))
        return true;
    std::string from = UnixName(link), to = UnixName(target);
    if (from.empty() || to.empty())
        return false;
    // Led relatively, so that the link never points out of the prefix.
    size_t common = 0;
    for (size_t i = 0; i < from.size() && i < to.size() && from[i] == to[i]; ++i)
        if (from[i] == '/')
            common = i + 1;
    std::string relative;
    for (size_t i = common; i < from.size(); ++i)
        relative += from[i] == '/' ? "../" : "";
    relative += to.substr(common);
    std::wstring command = L"ln -s \"" + Widen(relative.empty() ? "." : relative) + L"\" \"" + Widen(from) + L"\"";
    return RunOnHost(L"\\\\?\\unix\\bin\\ln", command, PathExists, link);
}

bool MakeKeyLink(const std::wstring& path, const std::wstring& target)
{
    RegKey key;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(key.Get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                          static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void RemoveKeyLink(const std::wstring& path)
{
    typedef LONG(WINAPI * NtDeleteKeyFn)(HANDLE);
    NtDeleteKeyFn deleteKey = reinterpret_cast<NtDeleteKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    RegKey link;
    if (deleteKey != nullptr &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, DELETE, link.Put()) == ERROR_SUCCESS)
        deleteKey(link.Get());
}


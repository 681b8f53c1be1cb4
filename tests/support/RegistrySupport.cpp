#include "tests/support/RegistrySupport.h"

void RemoveScratchKey(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

void MakeKey(HKEY root, const std::wstring& path,
             const std::vector<std::pair<std::wstring, std::wstring>>& values)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    for (const auto& value : values) {
        RegSetValueExW(key, value.first.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.second.c_str()),
                       static_cast<DWORD>((value.second.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

void MakeDeepTree(HKEY root, const std::wstring& path)
{
    const wchar_t* levels[] = {L"", L"\\one", L"\\one\\two", L"\\one\\two\\three", L"\\side"};
    for (const wchar_t* level : levels) {
        std::wstring key = path + level;
        MakeKey(root, key, {{L"", L"default of " + key}, {L"Named", L"x"}});
    }
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LONG result = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

namespace {

int CountOf(HKEY root, const std::wstring& path, bool subkeys)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    DWORD keys = 0, values = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(subkeys ? keys : values);
}

}  // namespace

int SubkeyCount(HKEY root, const std::wstring& path) { return CountOf(root, path, true); }
int ValueCount(HKEY root, const std::wstring& path) { return CountOf(root, path, false); }

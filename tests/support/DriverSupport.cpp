#include "tests/support/DriverSupport.h"

#include <windows.h>

#include "tests/support/RegistrySupport.h"
#include "tests/support/TestSupport.h"

std::wstring StandinDir(const wchar_t* variant)
{
    std::wstring dir = TestProgramDir();  // <build>\tests
    return dir.substr(0, dir.rfind(L'\\')) + L"\\standins\\" + variant;
}

void ResetStandins()
{
    for (const wchar_t* variant : {L"difx", L"difx-invalid", L"difx-nolog"}) {
        DeleteFileW((StandinDir(variant) + L"\\difx-calls.txt").c_str());
        DeleteFileW((StandinDir(variant) + L"\\difx-results.txt").c_str());
    }
}

std::vector<std::string> StandinCalls(const wchar_t* variant)
{
    return MaskedLogLines(ReadFileBytes(StandinDir(variant) + L"\\difx-calls.txt"));
}

void UseNativeDifxapi()
{
    MakeKey(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", {{L"difxapi", L"native"}});
}

std::wstring SystemRootDir()
{
    wchar_t path[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%SystemRoot%", path, MAX_PATH);
    return path;
}

void AddEntries(zqList<zqWString>* list, std::initializer_list<const wchar_t*> entries)
{
    zqWString text;
    for (const wchar_t* entry : entries) {
        text.Assign(entry);
        list->Append(text);
    }
}

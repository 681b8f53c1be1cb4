/* Stand-in for DIFxAPI.dll with the published entry points and calling conventions.
 *
 * Every call is appended as one line to difx-calls.txt next to the DLL:
 *   setcallback nonnull|null context=null|nonnull
 *   uninstall <inf path> 0x<flags> info=null|nonnull reboot=null|nonnull
 * The result of DriverPackageUninstallW comes from difx-results.txt next to the DLL: lines
 * "<result> <text>", the first whose text occurs in the INF path decides; a line with a
 * result alone applies to every path. No file or no fitting line: 0.
 * During an uninstall the registered callback gets an INFO event "Uninstalling <path>", then
 * SUCCESS (result 0) or ERROR (any other result) with the result code and no description. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef VOID(__cdecl* DIFXAPILOGCALLBACK_W)(int Event, DWORD Error, PCWSTR EventDescription,
                                            PVOID CallbackContext);

static HMODULE selfModule;
static DIFXAPILOGCALLBACK_W logCallback;
static PVOID logContext;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        selfModule = instance;
    return TRUE;
}

static void FileNextToDll(const wchar_t* name, wchar_t* path)
{
    wchar_t* slash;
    path[0] = 0;
    GetModuleFileNameW(selfModule, path, MAX_PATH);
    slash = wcsrchr(path, L'\\');
    if (slash != NULL)
        slash[1] = 0;
    wcsncat(path, name, MAX_PATH - wcslen(path) - 1);
}

static void Record(const char* line)
{
    wchar_t path[MAX_PATH];
    FILE* file;
    FileNextToDll(L"difx-calls.txt", path);
    file = _wfopen(path, L"ab");
    if (file == NULL)
        return;
    fputs(line, file);
    fputs("\n", file);
    fclose(file);
}

#ifndef ZQ_DIFX_NO_UNINSTALL
static DWORD ResultFor(const char* infPath)
{
    wchar_t path[MAX_PATH];
    char line[600];
    FILE* file;
    DWORD result = 0;
    FileNextToDll(L"difx-results.txt", path);
    file = _wfopen(path, L"rb");
    if (file == NULL)
        return 0;
    while (fgets(line, sizeof line, file) != NULL) {
        char* text;
        DWORD value = strtoul(line, &text, 0);
        line[strcspn(line, "\r\n")] = 0;
        while (*text == ' ')
            ++text;
        if (*text == 0 || strstr(infPath, text) != NULL) {
            result = value;
            break;
        }
    }
    fclose(file);
    return result;
}

__declspec(dllexport) DWORD WINAPI DriverPackageUninstallW(PCWSTR DriverPackageInfPath, DWORD Flags,
                                                           PVOID pInstallerInfo, BOOL* pNeedReboot)
{
    char path[MAX_PATH * 2];
    char line[MAX_PATH * 2 + 100];
    wchar_t text[MAX_PATH + 20];
    DWORD result;
    WideCharToMultiByte(CP_ACP, 0, DriverPackageInfPath != NULL ? DriverPackageInfPath : L"(null)",
                        -1, path, sizeof path, NULL, NULL);
    _snprintf(line, sizeof line, "uninstall %s 0x%lx info=%s reboot=%s", path, (unsigned long)Flags,
              pInstallerInfo != NULL ? "nonnull" : "null", pNeedReboot != NULL ? "nonnull" : "null");
    line[sizeof line - 1] = 0;
    Record(line);
    result = ResultFor(path);
    if (logCallback != NULL) {
        _snwprintf(text, MAX_PATH + 20, L"Uninstalling %ls", DriverPackageInfPath);
        text[MAX_PATH + 19] = 0;
        logCallback(1, 0, text, logContext);
        logCallback(result == 0 ? 0 : 3, result, NULL, logContext);
    }
    if (pNeedReboot != NULL)
        *pNeedReboot = FALSE;
    return result;
}
#endif

#ifndef ZQ_DIFX_NO_LOG_CALLBACK
__declspec(dllexport) VOID WINAPI DIFXAPISetLogCallbackW(DIFXAPILOGCALLBACK_W LogCallback,
                                                         PVOID CallbackContext)
{
    char line[64];
    _snprintf(line, sizeof line, "setcallback %s context=%s", LogCallback != NULL ? "nonnull" : "null",
              CallbackContext != NULL ? "nonnull" : "null");
    line[sizeof line - 1] = 0;
    Record(line);
    logCallback = LogCallback;
    logContext = CallbackContext;
}
#endif

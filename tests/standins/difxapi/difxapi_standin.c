/* Stand-in for DIFxAPI.dll with the published entry points and calling conventions. Each call
 * is appended to difx-calls.txt beside the DLL ("setcallback nonnull|null context=null|nonnull",
 * "uninstall <inf> 0x<flags> info=null|nonnull reboot=null|nonnull"). DriverPackageUninstallW
 * returns the first "<result> [<text>]" line of difx-results.txt whose text occurs in the INF
 * path (no text: any path), else 0; the callback then gets INFO "Uninstalling <path>" and
 * SUCCESS (0) or ERROR (otherwise) without a description; an INF path holding "zqreboot" is
 * one whose removal takes a restart (needReboot TRUE). DriverPackageInstallW records
 * "install <inf> 0x<flags> info=null|nonnull" and returns 0. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef VOID(__cdecl* DIFXAPILOGCALLBACK_W)(int, DWORD, PCWSTR, PVOID);

static DIFXAPILOGCALLBACK_W logCallback;
static PVOID logContext;

static FILE* OpenNextToDll(const char* name, const char* mode)
{
    char path[MAX_PATH] = "";
    HMODULE self = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)&logCallback, &self);
    GetModuleFileNameA(self, path, MAX_PATH - 20);
    strcpy(strrchr(path, '\\') + 1, name);
    return fopen(path, mode);
}

static void Record(const char* line)
{
    FILE* file = OpenNextToDll("difx-calls.txt", "ab");
    if (file != NULL) {
        fprintf(file, "%s\n", line);
        fclose(file);
    }
}

#ifndef ZQ_DIFX_NO_UNINSTALL
static DWORD ResultFor(const char* infPath)
{
    char line[600];
    DWORD result = 0;
    FILE* file = OpenNextToDll("difx-results.txt", "rb");
    while (file != NULL && fgets(line, sizeof line, file) != NULL) {
        char* text;
        DWORD value = strtoul(line, &text, 0);
        line[strcspn(line, "\r\n")] = 0;
        text += strspn(text, " ");
        if (*text == 0 || strstr(infPath, text) != NULL) {
            result = value;
            break;
        }
    }
    if (file != NULL)
        fclose(file);
    return result;
}

__declspec(dllexport) DWORD WINAPI DriverPackageUninstallW(PCWSTR infPath, DWORD flags, PVOID installerInfo,
                                                           BOOL* needReboot)
{
    char path[MAX_PATH * 2] = "", line[MAX_PATH * 2 + 80];
    wchar_t text[MAX_PATH + 20];
    DWORD result;
    WideCharToMultiByte(CP_ACP, 0, infPath, -1, path, sizeof path, NULL, NULL);
    snprintf(line, sizeof line, "uninstall %s 0x%lx info=%s reboot=%s", path, (unsigned long)flags,
             installerInfo != NULL ? "nonnull" : "null", needReboot != NULL ? "nonnull" : "null");
    Record(line);
    result = ResultFor(path);
    if (logCallback != NULL) {
        _snwprintf(text, MAX_PATH + 19, L"Uninstalling %ls", infPath);
        text[MAX_PATH + 19] = 0;
        logCallback(1, 0, text, logContext);
        logCallback(result == 0 ? 0 : 3, result, NULL, logContext);
    }
    if (needReboot != NULL)
        *needReboot = strstr(path, "zqreboot") != NULL;
    return result;
}

__declspec(dllexport) DWORD WINAPI DriverPackageInstallW(PCWSTR infPath, DWORD flags, PVOID installerInfo,
                                                         BOOL* needReboot)
{
    char path[MAX_PATH * 2] = "", line[MAX_PATH * 2 + 80];
    WideCharToMultiByte(CP_ACP, 0, infPath, -1, path, sizeof path, NULL, NULL);
    snprintf(line, sizeof line, "install %s 0x%lx info=%s", path, (unsigned long)flags,
             installerInfo != NULL ? "nonnull" : "null");
    Record(line);
    if (needReboot != NULL)
        *needReboot = FALSE;
    return 0;
}
#endif

#ifndef ZQ_DIFX_NO_LOG_CALLBACK
__declspec(dllexport) VOID WINAPI DIFXAPISetLogCallbackW(DIFXAPILOGCALLBACK_W callback, PVOID context)
{
    Record(callback != NULL ? (context != NULL ? "setcallback nonnull context=nonnull" : "setcallback nonnull context=null")
                            : (context != NULL ? "setcallback null context=nonnull" : "setcallback null context=null"));
    logCallback = callback;
    logContext = context;
}
#endif

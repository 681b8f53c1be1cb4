/* Stand-in for the system's newdev.dll, whose DiUninstallDriverW Wine lacks. Each call is
 * appended to newdev-calls.txt beside the DLL ("diuninstall <inf> 0x<flags>", "diinstall <inf>
 * 0x<flags>"); a call fails with error 5 when the INF path holds "zqfail". */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static BOOL Record(const char* verb, LPCWSTR infPath, DWORD flags, PBOOL needReboot)
{
    char path[MAX_PATH] = "", inf[MAX_PATH * 2] = "";
    HMODULE self = NULL;
    FILE* file;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)&Record, &self);
    GetModuleFileNameA(self, path, MAX_PATH - 20);
    strcpy(strrchr(path, '\\') + 1, "newdev-calls.txt");
    WideCharToMultiByte(CP_ACP, 0, infPath, -1, inf, sizeof inf, NULL, NULL);
    file = fopen(path, "ab");
    if (file != NULL) {
        fprintf(file, "%s %s 0x%lx\n", verb, inf, (unsigned long)flags);
        fclose(file);
    }
    if (needReboot != NULL)
        *needReboot = FALSE;
    if (strstr(inf, "zqfail") != NULL) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI DiUninstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags, PBOOL needReboot)
{
    (void)parent;
    return Record("diuninstall", infPath, flags, needReboot);
}

__declspec(dllexport) BOOL WINAPI DiInstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags, PBOOL needReboot)
{
    (void)parent;
    return Record("diinstall", infPath, flags, needReboot);
}

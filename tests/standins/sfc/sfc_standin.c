/* Stand-in for the system's sfc.dll, whose protected-file check Wine only stubs: a file is
 * protected when its name holds "zqsfc" (any case), and the list of protected files names one
 * in %SystemRoot%\zqsfcdir. */
#include <windows.h>
#include <wchar.h>

__declspec(dllexport) BOOL WINAPI SfcIsFileProtected(HANDLE rpc, LPCWSTR path)
{
    const wchar_t* name = wcsrchr(path, L'\\');
    (void)rpc;
    for (name = name != NULL ? name : path; *name != 0; ++name)
        if (_wcsnicmp(name, L"zqsfc", 5) == 0)
            return TRUE;
    return FALSE;
}

typedef struct {
    WCHAR FileName[MAX_PATH];
    DWORD FileNumber;
} ProtectedFileData;

__declspec(dllexport) BOOL WINAPI SfcGetNextProtectedFile(HANDLE rpc, ProtectedFileData* data)
{
    (void)rpc;
    if (data->FileNumber > 0)
        return FALSE;
    wcscpy(data->FileName, L"%SystemRoot%\\zqsfcdir\\zqsfc_core.dll");
    data->FileNumber = 1;
    return TRUE;
}

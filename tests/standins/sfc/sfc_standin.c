/* Stand-in for the system's sfc.dll, whose protected-file check Wine only stubs: a file is
 * protected when its name holds "zqsfc" (any case). */
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

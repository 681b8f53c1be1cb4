/* A control whose unregistration blocks, for the system's own regsvr32.exe to load: its
 * DllUnregisterServer sets the named event "Global\zqtest_unreg_ready" and waits (60 s at most)
 * for "Global\zqtest_unreg_release". */
#include <windows.h>

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void)
{
    HANDLE ready = CreateEventW(NULL, TRUE, FALSE, L"Global\\zqtest_unreg_ready");
    HANDLE release = CreateEventW(NULL, TRUE, FALSE, L"Global\\zqtest_unreg_release");
    if (ready != NULL)
        SetEvent(ready);
    if (release != NULL)
        WaitForSingleObject(release, 60000);
    if (release != NULL)
        CloseHandle(release);
    if (ready != NULL)
        CloseHandle(ready);
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void)
{
    return S_OK;
}

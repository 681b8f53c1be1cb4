// The driver-install library, loaded by name for the driver-package phase and released when
// it ends. Its log events become run-log lines between an item's text and its outcome. Where
// it cannot be loaded, the system's own newdev.dll takes its place (without log events).
#pragma once

#include <windows.h>

#include "foundation/Handles.h"

typedef void(__cdecl* DifxLogCallbackFn)(int eventType, DWORD errorCode, const wchar_t* description,
                                         void* context);
typedef DWORD(WINAPI* DriverPackageUninstallFn)(const wchar_t* infPath, DWORD flags,
                                                void* installerInfo, BOOL* needReboot);
typedef void(WINAPI* SetLogCallbackFn)(DifxLogCallbackFn callback, void* context);
typedef DWORD(WINAPI* DriverPackageInstallFn)(const wchar_t* infPath, DWORD flags, void* installerInfo,
                                              BOOL* needReboot);
// The system's own driver (un)installation of newdev.dll, Windows 10 1703 and later.
typedef BOOL(WINAPI* DiDriverFn)(HWND parent, const wchar_t* infPath, DWORD flags, BOOL* needReboot);

struct DriverLibrary {
    LoadedModule module;
    DriverPackageUninstallFn uninstall = nullptr;
    SetLogCallbackFn setLogCallback = nullptr;
    DriverPackageInstallFn install = nullptr;  // a restore's way back into the driver store
    DiDriverFn diUninstall = nullptr;          // newdev.dll in its place
    DiDriverFn diInstall = nullptr;
};

// Result codes of the library that count as a removed package.
const DWORD kDifxSuccess = 0;
const DWORD kDifxNoSuchDevinst = 0xE000020B;  // the package was not in use by any device

enum class LibraryLoad { Ready, NotFound, Invalid };

// Loads the library by name, else from workDir, else the system's newdev.dll, and binds it; a
// library without the uninstall entry point is released again (Invalid). Ready: the log callback
// is registered.
LibraryLoad LoadDriverLibrary(const wchar_t* workDir, DriverLibrary* library);
// Withdraws the callback and releases the library.
void ReleaseDriverLibrary(DriverLibrary* library);
// Uninstalls the package of an INF in the driver store; the library's result code. *restart
// becomes true when the library says the change takes a restart (it is never set false).
DWORD UninstallDriverPackage(const DriverLibrary& library, const wchar_t* infPath, bool* restart);
// Installs a package from its INF into the driver store again; the library's result code.
bool CanInstallDriverPackage(const DriverLibrary& library);
DWORD InstallDriverPackage(const DriverLibrary& library, const wchar_t* infPath, bool* restart);

// The library's log callback (__cdecl, as the library calls it): one unstamped line per event.
void __cdecl DifxLogCallback(int eventType, unsigned long errorCode, const wchar_t* description,
                             void* context);

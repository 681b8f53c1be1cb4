#include "action/DriverLibrary.h"

#include "platform/Process.h"
#include "foundation/zqString.h"
#include "shared/RunLog.h"

namespace {

const DWORD kDriverPackageForce = 0x4;
const DWORD kDriverPackageDeleteFiles = 0x20;

// The library's log event types.
enum DifxEvent { DifxSuccess = 0, DifxInfo = 1, DifxWarning = 2, DifxError = 3 };

template <typename Fn>
Fn LookUp(HMODULE module, const char* name)
{
    // Through void* so that the cast between function types is explicit.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

LibraryLoad LoadDriverLibrary(const wchar_t* workDir, DriverLibrary* library)
{
    // By name from the system folders and the program's own, then from the working directory.
    library->module.Reset(LoadTrustedLibrary(L"DIFxAPI.dll", true));
    zqWString path;
    if (!library->module.Valid() && FormatInto(path, L"%s\\DIFxAPI.dll", workDir))
        library->module.Reset(LoadLibraryW(path.Get()));
    if (!library->module.Valid()) {
        // Current Windows ships no DIFxAPI.dll; its newdev.dll uninstalls a package from its INF.
        library->module.Reset(LoadTrustedLibrary(L"newdev.dll", false));
        library->diUninstall = LookUp<DiDriverFn>(library->module.Get(), "DiUninstallDriverW");
        library->diInstall = LookUp<DiDriverFn>(library->module.Get(), "DiInstallDriverW");
        if (library->diUninstall != nullptr)
            return LibraryLoad::Ready;
        ReleaseDriverLibrary(library);
        return LibraryLoad::NotFound;
    }
    library->uninstall = LookUp<DriverPackageUninstallFn>(library->module.Get(), "DriverPackageUninstallW");
    library->setLogCallback = LookUp<SetLogCallbackFn>(library->module.Get(), "DIFXAPISetLogCallbackW");
    library->install = LookUp<DriverPackageInstallFn>(library->module.Get(), "DriverPackageInstallW");
    if (library->uninstall == nullptr) {
        library->module.Close();
        return LibraryLoad::Invalid;
    }
    if (library->setLogCallback != nullptr)
        library->setLogCallback(DifxLogCallback, nullptr);
    return LibraryLoad::Ready;
}

void ReleaseDriverLibrary(DriverLibrary* library)
{
    // The callback is withdrawn first, so that it never fires once the phase is over.
    if (library->module.Valid() && library->setLogCallback != nullptr)
        library->setLogCallback(nullptr, nullptr);
    library->module.Close();
    library->uninstall = nullptr;
    library->setLogCallback = nullptr;
    library->install = nullptr;
    library->diUninstall = library->diInstall = nullptr;
}

DWORD UninstallDriverPackage(const DriverLibrary& library, const wchar_t* infPath, bool* restart)
{
    BOOL needReboot = FALSE;
    DWORD result;
    if (library.uninstall == nullptr)
        result = library.diUninstall(nullptr, infPath, 0, &needReboot) ? kDifxSuccess : GetLastError();
    else
        result = library.uninstall(infPath, kDriverPackageForce | kDriverPackageDeleteFiles, nullptr, &needReboot);
    if (needReboot)
        *restart = true;
    return result;
}

bool CanInstallDriverPackage(const DriverLibrary& library)
{
    return library.install != nullptr || library.diInstall != nullptr;
}

DWORD InstallDriverPackage(const DriverLibrary& library, const wchar_t* infPath, bool* restart)
{
    BOOL needReboot = FALSE;
    DWORD result;
    if (library.install == nullptr)
        result = library.diInstall(nullptr, infPath, 0, &needReboot) ? kDifxSuccess : GetLastError();
    else
        result = library.install(infPath, kDriverPackageForce, nullptr, &needReboot);
    if (needReboot)
        *restart = true;
    return result;
}

void __cdecl DifxLogCallback(int eventType, unsigned long, const wchar_t* description, void*)
{
    const wchar_t* text = description != nullptr ? description : L"-";
    switch (eventType) {
    case DifxSuccess: WriteLog(0, "S: %S\n", text); break;
    case DifxInfo: WriteLog(0, "I: %S\n", text); break;
    case DifxWarning: WriteLog(0, "W: %S\n", text); break;
    case DifxError: WriteLog(0, "E: %S\n", text); break;
    default: WriteLog(0, "D: %S\n", text); break;
    }
}

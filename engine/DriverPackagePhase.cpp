// Driver package removal: every driver-store folder whose name starts with a [drvpackages]
// entry is handed to the driver-install library, which uninstalls the package and reports
// through DifxLogCallback.
#include <windows.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "foundation/Handles.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"
#include "launcher/RunLog.h"
#include "script/CleanScript.h"
#include "script/ExpandPath.h"

namespace {

// The library's published entry points. The log callback is __cdecl; the exports are WINAPI.
typedef void(__cdecl* DifxLogCallbackFn)(int eventType, DWORD errorCode,
                                         const wchar_t* description, void* context);
typedef DWORD(WINAPI* DriverPackageUninstallFn)(const wchar_t* infPath, DWORD flags,
                                                void* installerInfo, BOOL* needReboot);
typedef void(WINAPI* SetLogCallbackFn)(DifxLogCallbackFn callback, void* context);

const DWORD kDriverPackageForce = 0x4;
const DWORD kDriverPackageDeleteFiles = 0x20;
const DWORD kErrorNoSuchDevinst = 0xE000020B;

// Store roots in the order they are searched, and what follows the entry in a folder name.
const wchar_t kStoreRoots[2][256] = {
    L"%SystemRoot%\\system32\\DRVSTORE",
    L"%SystemRoot%\\system32\\DriverStore\\FileRepository",
};
const wchar_t* const kFolderSuffixes[2] = {L"_", L".inf_"};

struct DifxLibrary {
    LoadedModule module;
    DriverPackageUninstallFn uninstall = nullptr;
    SetLogCallbackFn setLogCallback = nullptr;
};

template <typename Fn>
Fn LookUp(HMODULE module, const char* name)
{
    // Through void* so that the cast between function types is explicit.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool LoadDifxLibrary(const wchar_t* workDir, DifxLibrary* library)
{
    library->module.Reset(LoadLibraryA("DIFxAPI.dll"));
    if (!library->module.Valid()) {
        wchar_t path[260];
        FormatW(path, 260, L"%s\\DIFxAPI.dll", workDir != nullptr ? workDir : L"");
        library->module.Reset(LoadLibraryW(path));
    }
    return library->module.Valid();
}

// Uninstalls the packages of one store root; false when a stop request ended the enumeration.
bool CleanStoreRoot(int rootIndex, zqList<zqWString>& packages, const DifxLibrary& library,
                    int* uninstalled)
{
    wchar_t* root = nullptr;
    if (!ExpandPathW(kStoreRoots[rootIndex], &root))
        return true;
    HeapBlock rootBlock(root);

    // The folder-name prefix of each entry, built once for the whole root.
    zqList<zqWString> prefixes;
    for (int i = 0; i < packages.count; ++i) {
        zqWString* prefix = new zqWString(*packages.At(i));
        prefix->Append(kFolderSuffixes[rootIndex]);
        prefixes.AppendOwned(prefix);
    }

    wchar_t pattern[260];
    FormatW(pattern, 260, L"%s\\*", root);
    _wfinddata64i32_t found;
    CrtFindHandle find(_wfindfirst64i32(pattern, &found));
    if (!find.Valid())
        return !StopRequested();

    do {
        if (!(found.attrib & _A_SUBDIR))
            continue;
        int taken = -1;
        for (int i = 0; i < prefixes.count; ++i) {
            const zqWString* prefix = prefixes.At(i);
            if (prefix != nullptr &&
                wcsncmp(found.name, prefix->Get(), static_cast<size_t>(prefix->length)) == 0) {
                taken = i;
                break;
            }
            if (StopRequested())
                return false;
        }
        if (taken >= 0) {
            wchar_t infPath[260];
            FormatW(infPath, 260, L"%s\\%s\\%s.inf", root, found.name, packages.At(taken)->Get());
            WriteLog(0, "%S...", infPath);
            BOOL needReboot = FALSE;
            DWORD result = library.uninstall(infPath, kDriverPackageForce | kDriverPackageDeleteFiles,
                                             nullptr, &needReboot);
            // The library's result code, printed signed (0xE0000xxx codes come out negative).
            if (WriteItemOutcome(result == 0 || result == kErrorNoSuchDevinst, result))
                ++*uninstalled;
        }
        if (StopRequested())
            return false;
    } while (_wfindnext64i32(find.Get(), &found) == 0);

    return !StopRequested();
}

}  // namespace

void __cdecl DifxLogCallback(int eventType, unsigned long, const wchar_t* description, void*)
{
    const wchar_t* text = description != nullptr ? description : L"-";
    switch (eventType) {
    case 0:  // DIFXAPI_SUCCESS
        WriteLog(0, "S: %S\n", text);
        break;
    case 1:  // DIFXAPI_INFO
        WriteLog(0, "I: %S\n", text);
        break;
    case 2:  // DIFXAPI_WARNING
        WriteLog(0, "W: %S\n", text);
        break;
    case 3:  // DIFXAPI_ERROR
        WriteLog(0, "E: %S\n", text);
        break;
    default:
        WriteLog(0, "D: %S\n", text);
        break;
    }
}

bool DriverPackagePhase(zqCleanScript& script, const wchar_t* workDir)
{
    DifxLibrary library;
    if (!LoadDifxLibrary(workDir, &library)) {
        WriteLog(1, "Cannot uninstall driver packages (DIFxAPI.dll not found.)\n");
        return true;
    }
    library.uninstall = LookUp<DriverPackageUninstallFn>(library.module.Get(), "DriverPackageUninstallW");
    library.setLogCallback = LookUp<SetLogCallbackFn>(library.module.Get(), "DIFXAPISetLogCallbackW");
    if (library.uninstall == nullptr) {
        WriteLog(1, "Cannot uninstall driver packages (DIFxAPI.dll version is invalid.)\n");
        return true;  // the holder releases the library
    }

    if (library.setLogCallback != nullptr)
        library.setLogCallback(DifxLogCallback, nullptr);
    WriteLog(1, "Delete driver packages(%i) from DriverStore:\n", script.drvPackages.count);

    int uninstalled = 0;
    bool stopped = false;
    for (int rootIndex = 0; rootIndex < 2 && !stopped; ++rootIndex)
        stopped = !CleanStoreRoot(rootIndex, script.drvPackages, library, &uninstalled);

    WriteLog(1, "%i driver packages are deleted from the DriverStore.\n", uninstalled);
    // Also on a stop: the library is released here, so no callback may stay registered in it.
    if (library.setLogCallback != nullptr)
        library.setLogCallback(nullptr, nullptr);
    library.module.Close();
    return !stopped && !StopRequested();
}

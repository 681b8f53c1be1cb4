#include "registry/SetupRegistration.h"

#include <windows.h>

#include "foundation/Handles.h"
#include "launcher/RunLog.h"

namespace {

// Every key comes after its subkeys, so single deletions suffice; a key that still has a
// subkey not listed here (another shell verb) is left alone by the registry.
const char* const kClassKeys[] = {
    "KDSetup\\DefaultIcon",
    "KDSetup\\shell\\install\\command",
    "KDSetup\\shell\\install",
    "KDSetup\\shell\\open\\command",
    "KDSetup\\shell\\open",
    "KDSetup\\shell",
    "KDSetup",
    ".kds",
    "KDSetupZ\\DefaultIcon",
    "KDSetupZ\\shell\\install\\command",
    "KDSetupZ\\shell\\install",
    "KDSetupZ\\shell",
    "KDSetupZ",
    ".zqz",
    "KDSetup32\\DefaultIcon",
    "KDSetup32\\shell\\install\\command",
    "KDSetup32\\shell\\install",
    "KDSetup32\\shell\\open\\command",
    "KDSetup32\\shell\\open",
    "KDSetup32\\shell",
    "KDSetup32",
    ".kds32",
    "DERerurI32\\DefaultIcon",
    "DERerurI32\\shell\\install\\command",
    "DERerurI32\\shell\\install",
    "DERerurI32\\shell",
    "DERerurI32",
    ".zqz32",
};

void RemoveUninstallEntries(const char* uninstallPath)
{
    RegKey uninstall;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, uninstallPath, uninstall.Put()) != ERROR_SUCCESS)
        return;
    RegDeleteKeyA(uninstall.Get(), "ZQ");
    RegDeleteKeyA(uninstall.Get(), "ZQ32");
}

}  // namespace

void RemoveSetupRegistration()
{
    WriteLog(1, "Undelete setup...");

    RegKey classes;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, nullptr, classes.Put()) == ERROR_SUCCESS) {
        for (const char* key : kClassKeys)
            RegDeleteKeyA(classes.Get(), key);
        classes.Close();
    }

    RemoveUninstallEntries("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
#ifdef _WIN64
    RemoveUninstallEntries("SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
#endif

    RegKey modules;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\ZQ", modules.Put()) ==
        ERROR_SUCCESS)
        RegDeleteValueA(modules.Get(), "Modules.x64");
    modules.Close();

    WriteLog(0, "OK.\n");
}

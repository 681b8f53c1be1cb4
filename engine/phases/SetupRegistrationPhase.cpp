// The setup packages' file types, the product's uninstall entries and its module value,
// removed by every run whatever the script lists. Single deletions: a key that still has a
// subkey not listed here (another shell verb) stays.
#include <windows.h>

#include "phases/PhaseSources.h"

namespace {

// Every key comes after its subkeys.
const wchar_t* const kClassKeys[] = {
    L"KDSetup\\DefaultIcon",    L"KDSetup\\shell\\install\\command",    L"KDSetup\\shell\\install",
    L"KDSetup\\shell\\open\\command",    L"KDSetup\\shell\\open",    L"KDSetup\\shell",
    L"KDSetup",    L".kds",
    L"KDSetupZ\\DefaultIcon",    L"KDSetupZ\\shell\\install\\command",    L"KDSetupZ\\shell\\install",
    L"KDSetupZ\\shell",    L"KDSetupZ",    L".zqz",
    L"KDSetup32\\DefaultIcon",    L"KDSetup32\\shell\\install\\command",    L"KDSetup32\\shell\\install",
    L"KDSetup32\\shell\\open\\command",    L"KDSetup32\\shell\\open",    L"KDSetup32\\shell",
    L"KDSetup32",    L".kds32",
    L"DERerurI32\\DefaultIcon",    L"DERerurI32\\shell\\install\\command",    L"DERerurI32\\shell\\install",
    L"DERerurI32\\shell",    L"DERerurI32",    L".zqz32",
};

const wchar_t* const kUninstallEntries[] = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ32",
#ifdef _WIN64
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ",
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZQ32",
#endif
};

void OfferKey(PhaseRun& phase, HKEY root, const wchar_t* path)
{
    Target target = {TargetKind::RegistryKey, path, root};
    target.keyOnly = true;
    OfferTarget(phase, target);
}

}  // namespace

void OfferSetupRegistration(RunContext&, PhaseRun& phase)
{
    for (const wchar_t* key : kClassKeys)
        OfferKey(phase, HKEY_CLASSES_ROOT, key);
    for (const wchar_t* key : kUninstallEntries)
        OfferKey(phase, HKEY_LOCAL_MACHINE, key);
    Target modules = {TargetKind::RegistryValue, L"SOFTWARE\\Wow6432Node\\ZQ", HKEY_LOCAL_MACHINE};
    modules.valueName = L"Modules.x64";
    OfferTarget(phase, modules);
}

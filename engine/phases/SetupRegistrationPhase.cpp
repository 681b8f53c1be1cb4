// The setup packages' file types, the product's uninstall entries and its module value,
// removed by every run whatever the script lists. Single deletions: a key that still has a
// subkey not listed here (another shell verb) stays.
#include <windows.h>

#include "phases/PhaseSources.h"
#include "platform/SystemPaths.h"

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
};

void OfferKey(PhaseRun& phase, HKEY root, const wchar_t* path, REGSAM view)
{
    Target target = {TargetKind::RegistryKey, path, root};
    target.view = view;
    target.keyOnly = true;
    OfferTarget(phase, target);
}

}  // namespace

// The 64-bit build removes the uninstall entries from both registry views, the 32-bit build from
// its own; the module value lies in the 32-bit view of a 64-bit system only.
void OfferSetupRegistration(RunContext& run, PhaseRun& phase)
{
    for (const wchar_t* key : kClassKeys)
        OfferKey(phase, HKEY_CLASSES_ROOT, key, 0);
#ifdef _WIN64
    const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
#else
    const REGSAM views[] = {0};
#endif
    for (REGSAM view : views)
        for (const wchar_t* key : kUninstallEntries)
            OfferKey(phase, HKEY_LOCAL_MACHINE, key, view);
    if (sizeof(void*) == 8 || run.paths->isWow64) {
        Target modules = {TargetKind::RegistryValue, L"SOFTWARE\\ZQ", HKEY_LOCAL_MACHINE};
        modules.view = KEY_WOW64_32KEY;
        modules.valueName = L"Modules.x64";
        OfferTarget(phase, modules);
    }
}

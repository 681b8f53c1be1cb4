#include "shared/ExitCodes.h"

#include <wchar.h>

ExitConvention ExitConventionFromValue(const wchar_t* value, bool* known)
{
    bool standard = value != nullptr && _wcsicmp(value, L"standard") == 0;
    if (known != nullptr)
        *known = standard;
    return standard ? ExitConvention::Standard : ExitConvention::Classic;
}

LaunchEnd FirstEnd(LaunchEnd a, LaunchEnd b)
{
    if (a == LaunchEnd::Unknown)
        return b;
    if (b == LaunchEnd::Unknown)
        return a;
    return static_cast<int>(a) < static_cast<int>(b) ? a : b;
}

int StandardExitCode(LaunchEnd end)
{
    switch (end) {
    case LaunchEnd::AnotherLaunch: return 1618;   // ERROR_INSTALL_ALREADY_RUNNING
    case LaunchEnd::ScriptUnusable: return 1619;  // ERROR_INSTALL_PACKAGE_OPEN_FAILED
    case LaunchEnd::RefusedFolder: return 1;
    case LaunchEnd::Stopped: return 1602;         // ERROR_INSTALL_USEREXIT
    case LaunchEnd::Found: return 1;
    case LaunchEnd::RestartNeeded: return 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
    case LaunchEnd::Clean: return 0;
    case LaunchEnd::Failed:
    case LaunchEnd::Unknown: break;
    }
    return 1603;  // ERROR_INSTALL_FAILURE
}

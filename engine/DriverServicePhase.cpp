// Driver service removal: the service key of every [drivers] entry, with all below it.
#include <windows.h>
#include <wchar.h>

#include "engine/Phases.h"
#include "engine/StopSignal.h"
#include "foundation/Handles.h"
#include "foundation/zqString.h"
#include "launcher/RunLog.h"
#include "registry/RegistryPrimitives.h"
#include "script/CleanScript.h"

namespace {

// A name that is empty or made of separators alone would address the services key itself.
bool IsServiceName(const wchar_t* name)
{
    return name[wcsspn(name, L"\\")] != 0;
}

}  // namespace

bool DriverServicePhase(zqCleanScript& script)
{
    WriteLog(1, "Delete driver services(%i):\n", script.drivers.count);

    int deleted = 0;
    zqWString keyPath;
    for (int i = 0; i < script.drivers.count; ++i) {
        const wchar_t* name = script.drivers.At(i)->Get();
        if (!IsServiceName(name))
            continue;
        // Without the name (no memory left) the path would be the whole Services key.
        if (!keyPath.Assign(L"SYSTEM\\CurrentControlSet\\Services\\") || !keyPath.Append(name))
            continue;
        {
            RegKey key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.Get(), 0, KEY_READ, key.Put()) !=
                ERROR_SUCCESS)
                continue;
        }
        WriteLog(0, "%S...", keyPath.Get());
        bool done = DeleteKeyTreeW(HKEY_LOCAL_MACHINE, keyPath.Get()) != FALSE;
        if (WriteItemOutcome(done, GetLastError()))
            ++deleted;
    }

    if (StopRequested())
        return false;
    WriteLog(1, "%i driver services are deleted.\n", deleted);
    return true;
}

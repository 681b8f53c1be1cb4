#include "engine/Phases.h"

#include <windows.h>

#include "engine/FileSystem.h"
#include "engine/StopSignal.h"
#include "foundation/zqString.h"
#include "launcher/RunLog.h"
#include "script/CleanScript.h"

bool DotNetPhase(zqCleanScript& script, const wchar_t* workDir)
{
    WriteLog(1, "Delete .NET dlls from GAC(%i):\n", script.dotNet.count);
    int removed = 0;
    for (int i = 0; i < script.dotNet.count; ++i) {
        const zqWString* item = script.dotNet.At(i);
        const wchar_t* assembly = item != nullptr ? item->Get() : L"";
        if (assembly[0] == 0)
            continue;
        WriteLog(0, "%S...", assembly);
        // The tool's path is quoted, since the launcher's folder may hold blanks; the assembly
        // name is passed as written.
        wchar_t commandLine[260];
        FormatW(commandLine, 260, L"\"%s\\gacutil.exe\" /u %s /silent", workDir, assembly);
        DWORD exitCode = RunProcessAndWait(commandLine);
        DWORD error = GetLastError();
        if (exitCode == 0) {
            WriteLog(0, "OK\n");
            ++removed;
        } else {
            WriteLog(0, "FAILED. Error: %i(%i)\n", static_cast<int>(error), static_cast<int>(exitCode));
        }
        if (StopRequested())
            return false;
    }
    if (StopRequested())
        return false;
    WriteLog(1, "%i .NET dlls are deleted.\n", removed);
    return true;
}

// The exit code a launch ends with. Two conventions: the classic one (-1 after a run, 1 after a
// refusal, 0 when nothing was done) and, when the script's [general] section says
// "exitcodes=standard", the codes that deployment tools read the same way.
#pragma once

enum class ExitConvention { Classic, Standard };

// The convention a [general] "exitcodes=" value asks for: "standard" in any case; any other
// value keeps the classic codes (and *known is false, so the reader can warn about it).
ExitConvention ExitConventionFromValue(const wchar_t* value, bool* known = nullptr);

// How a launch ended, in the order the standard codes rank what applies: where several apply,
// the first one wins. 0 is no end known yet (a fresh status block is all zeros).
enum class LaunchEnd {
    Unknown = 0,
    AnotherLaunch,   // 1618: a status block of another launch exists (740)
    ScriptUnusable,  // 1619: the script path is too long, or no prepared copy (730, 735)
    RefusedFolder,   // 1: started from a folder the script removes
    Stopped,         // 1602: a stop request or the Cancel ended the run early
    Failed,          // 1603: an item failed or was refused; no service (780, 787, 795, 798)
    Found,           // 1: a preview found something to remove
    RestartNeeded,   // 3010: completed; something goes only at the next restart
    Clean,           // 0: completed; everything the run met is gone (or, a preview: nothing there)
};

// The end that ranks first of the two; Unknown ranks last.
LaunchEnd FirstEnd(LaunchEnd a, LaunchEnd b);
// The standard exit code of an end; Unknown (nothing told how the launch ended) is a failure.
int StandardExitCode(LaunchEnd end);

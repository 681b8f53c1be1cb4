// Helpers of the driver tests: the run log of one test, the DIFxAPI stand-ins, the Wine DLL
// override that keeps Wine's own difxapi stub out, and the restart-time deletion list.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/zqList.h"
#include "foundation/zqString.h"

// Points the run log at a fresh file C:\zqtest\<name>\run.log (the folder is recreated).
std::wstring StartScratchLog(const std::wstring& name);
// The run log's lines with timestamps masked.
std::vector<std::string> LogLines();

// %SystemRoot% of this process, e.g. "C:\windows".
std::wstring SystemRootDir();

// Folder of one stand-in variant in the build tree ("difx", "difx-invalid", "difx-nolog").
std::wstring StandinDir(const wchar_t* variant);
// Empties the call records (difx-calls.txt) and result tables (difx-results.txt) of all
// three variants.
void ResetStandins();
// The stand-in's call record, one string per call.
std::vector<std::string> StandinCalls(const wchar_t* variant);

// Sets HKCU\Software\Wine\DllOverrides\<dll> and gives back what was there (empty: nothing),
// so that RestoreWineDllOverride can put it back.
std::wstring SetWineDllOverride(const wchar_t* dll, const wchar_t* value, bool* existed);
void RestoreWineDllOverride(const wchar_t* dll, const std::wstring& old, bool existed);
// Keeps Wine's builtin difxapi stub out (only a native DLL loads), and lets it in again.
void UseNativeDifxapi();
void UseBuiltinDifxapi();

// The sources of PendingFileRenameOperations (the "\??\" form), and removal of the pairs
// whose source contains marker (case-insensitively).
std::vector<std::wstring> PendingRenameSources();
void DropPendingRenames(const std::wstring& marker);

// Appends copies of the texts to a script list.
void AddEntries(zqList<zqWString>* list, std::initializer_list<const wchar_t*> entries);

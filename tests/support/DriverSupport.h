// The DIFxAPI stand-ins of the tests, and script entries.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/zqList.h"
#include "foundation/zqString.h"

// <build>\standins\<variant>: "difx", "difx-invalid" (no DriverPackageUninstallW) or
// "difx-nolog" (no DIFXAPISetLogCallbackW).
std::wstring StandinDir(const wchar_t* variant);
// Empties the call records (difx-calls.txt) and result tables (difx-results.txt) of all three.
void ResetStandins();
std::vector<std::string> StandinCalls(const wchar_t* variant);  // one line per call
// Keeps Wine's builtin difxapi stub out: only a native DLL loads (UseBuiltinDifxapi undoes it).
void UseNativeDifxapi();

std::wstring SystemRootDir();  // e.g. "C:\windows"
void AddEntries(zqList<zqWString>* list, std::initializer_list<const wchar_t*> entries);

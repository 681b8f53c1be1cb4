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
// Empties the stand-in's call record (difx-calls.txt) and result table (difx-results.txt).
void ResetStandin(const wchar_t* variant);
// The stand-in's call record, one line per call.
std::vector<std::string> StandinCalls(const wchar_t* variant);
// Keeps Wine's builtin difxapi stub, found by name, out: only a native DLL loads then.
// UseBuiltinDifxapi() undoes it.
void UseNativeDifxapi();

std::wstring SystemRootDir();  // e.g. "C:\windows"
void AddEntries(zqList<zqWString>* list, std::initializer_list<const wchar_t*> entries);

// Shared helpers of the tests: scratch folders on C:, files, the run log, processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Folder of the running test program (inside the build tree, on drive X:).
std::wstring TestProgramDir();

// C:\zqtest\<name>, removed first when it exists and created empty.
std::wstring MakeScratchDir(const std::wstring& name);
// Removes a folder tree with plain Win32 calls (test clean-up; not the program's own code).
void RemoveTree(const std::wstring& folder);

bool PathExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

// The run log split into lines (CRLF or LF; a final line end adds no empty line), with every "[yyyy/mm/dd hh:mm:ss,mmm]" stamp
// replaced by "[TS]". A stamp that is not well-formed stays as it is, so the comparison fails.
std::vector<std::string> MaskedLogLines(const std::string& text);

// A stand-in program of the tests, built into <build>\standins.
std::wstring StandinPath(const std::wstring& exeName);

// A stamped run-log line as MaskedLogLines shows it, and the line that closes a complete run.
std::string Stamped(const std::string& text);
std::string ClosingLine();

// Starts a command line and waits for it; returns its exit code, or 0xFFFFFFFF.
DWORD RunAndWait(const std::wstring& commandLine, const std::wstring& currentDir = L"",
                 DWORD timeoutMs = 120000);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

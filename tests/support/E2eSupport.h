// Helpers of the end-to-end tests: they start the built program under Wine, as an
// administrator or installer would, and look at what it left behind.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The program of this build (zqclean64.exe or zqclean32.exe), in the build folder, the parent
// of the test program's folder.
std::wstring BuiltProgramPath();
// The stand-in tool of the tests, in <build>\standins.
std::wstring StandinPath(const std::wstring& exeName);

struct Launch {
    bool started;   // CreateProcessW succeeded
    bool finished;  // ended within the time limit (otherwise it was terminated)
    DWORD exitCode; // as GetExitCodeProcess gives it: -1 is 0xFFFFFFFF
};
// Starts "<program>" <arguments> in workDir and waits for it.
Launch LaunchProgram(const std::wstring& program, const std::wstring& arguments,
                     const std::wstring& workDir, DWORD timeoutMs = 120000);
// The same without waiting: the process handle, or null.
HANDLE StartProgram(const std::wstring& program, const std::wstring& arguments,
                    const std::wstring& workDir);

// The run log C:\zqclean.log as bytes and as lines with the stamps masked.
std::wstring RunLogFile();
std::string RunLogBytes();
std::vector<std::string> RunLogLines();

// 0 when the service "zqcleansrvc" can be opened, otherwise the error of OpenServiceA.
DWORD CleanServiceOpenError();
// Stops (when running) and deletes the service "zqcleansrvc"; waits until it is gone.
void RemoveCleanServiceForTest();
// Creates "zqcleansrvc" (own process, demand start) with the given command line.
bool CreateCleanServiceForTest(const std::string& commandLine);

// Registry: create a key with one string value (name may be empty for the default value).
bool SetRegString(HKEY root, const std::wstring& path, const std::wstring& name,
                  const std::wstring& value);
bool RegKeyExists(HKEY root, const std::wstring& path);
bool RegValueExists(HKEY root, const std::wstring& path, const std::wstring& name);
void RegDeleteTreeForTest(HKEY root, const std::wstring& path);

// The sources of the pending delete-at-restart operations, as written ("\??\C:\x").
std::vector<std::wstring> PendingDeletions();
// Takes the operations on the given file out again, so runs do not pile them up.
void ForgetPendingDeletion(const std::wstring& path);

// Lets Wine's built-in DIFxAPI.dll load by name (removes a "difxapi" DLL override that other
// tests of the prefix may have set).
void UseBuiltinDifxapi();

// A stamped run-log line as the masked log shows it.
std::string Stamped(const std::string& text);
// The line that closes every complete run.
std::string ClosingLine();

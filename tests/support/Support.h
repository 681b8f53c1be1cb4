// Helpers of every test program: scratch files and keys made and checked with plain Win32 calls
// (not the program's own code), the run log, stand-ins, processes.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/Handles.h"
#include "foundation/zqList.h"
#include "foundation/zqString.h"

using Lines = std::vector<std::string>;

std::string Narrow(const std::wstring& text);  // code units above 0xFF become '?'
std::wstring Widen(const std::string& text);   // byte for byte

// C:\zqtest\<name>, made empty; RemoveTree removes a folder tree, links as themselves.
std::wstring MakeScratchDir(const std::wstring& name);
void RemoveTree(const std::wstring& folder);
bool PathExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::wstring SystemRootDir();   // e.g. C:\windows
std::wstring SystemFolder();    // system32 as this program sees it (SysWOW64 under WOW64)
std::wstring TestProgramDir();  // <build>\tests
std::wstring StandinPath(const std::wstring& name);  // <build>\standins\<name>
bool CopyStandIn(const wchar_t* exeName, const std::wstring& target);

std::string S(const std::string& text);  // a stamped line as LogLines shows it
std::string ClosingLine();
// Points the run log at a fresh C:\zqtest\runlog\<name>.log and returns its path.
std::wstring FreshRunLog(const std::string& name);
// The run log's lines, every "[yyyy/mm/dd hh:mm:ss,mmm]" stamp made "[TS]"; a line that ends
// without its CR (the log is text-mode text) shows "<LF without CR>" at its end.
Lines LogLines(const std::wstring& path);
// What a stand-in recorded, a line each (LF or CRLF), stamps as in LogLines.
Lines RecordedLines(const std::wstring& path);

// A symbolic link at link (a file or folder path on C:) leading to target: the system's own
// call where it makes one; Wine keeps that call a stub, so there the host's ln makes it, led
// relatively between Wine's Unix names of both. True when the link stands.
bool MakeLink(const std::wstring& link, const std::wstring& target);
// Removes a link itself: on Wine deleting a link deletes what it leads to, so the host does it.
void RemoveLink(const std::wstring& link);
// Whether path is a link: shown as one, or (as Wine shows a link to a file) a file whose final
// path lies elsewhere, or listed with nothing there.
bool IsLink(const std::wstring& path);
// A registry link at path below HKEY_LOCAL_MACHINE naming target ("\Registry\Machine\..."),
// and its removal as itself (the key it names stays).
bool MakeKeyLink(const std::wstring& path, const std::wstring& target);
void RemoveKeyLink(const std::wstring& path);

// view: 0 for this program's registry view, or KEY_WOW64_64KEY / KEY_WOW64_32KEY.
void RemoveScratchKey(HKEY root, const std::wstring& path, REGSAM view = 0);
// Creates the key with string values (name "" is the default value).
void MakeKey(HKEY root, const std::wstring& path,
             const std::vector<std::pair<std::wstring, std::wstring>>& values = {}, REGSAM view = 0);
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = 0);

// The sources of PendingFileRenameOperations that contain marker (without "\??\"), and their
// removal.
std::vector<std::wstring> PendingWith(const std::wstring& marker);
void DropPendingRenames(const std::wstring& marker);

// HKCU\Software\Wine\DllOverrides\<dll> set to value while the holder lives (read by every
// process of the prefix, the service included); with a program name (e.g. "zqclean64.exe"),
// for that program's processes only.
struct ScopedDllOverride {
    ScopedDllOverride(const wchar_t* dll, const wchar_t* value, const wchar_t* program = nullptr);
    ~ScopedDllOverride();
    std::wstring dll, where, old;
    bool existed = false;
};

// A stand-in in place of a file of the system folder (saved beside it, and put back when the
// holder goes), loaded natively by Wine: by every process, or by the named program's only.
struct ScopedSystemFile {
    ScopedSystemFile(const wchar_t* name, const std::wstring& standin, const wchar_t* program = nullptr);
    ~ScopedSystemFile();
    std::wstring path;
    ScopedDllOverride native;
};

void AddEntries(zqList<zqWString>* list, std::initializer_list<const wchar_t*> entries);

// Sets an environment variable of this process (null: none) while the holder lives.
struct ScopedEnv {
    ScopedEnv(const wchar_t* name, const wchar_t* value);
    ~ScopedEnv();
    std::wstring name, saved;
    bool hadValue = false;
};

// locker.exe holding the file open without sharing while the holder lives.
struct LockedFile {
    explicit LockedFile(const std::wstring& file);
    ~LockedFile();
    bool held = false;
    KernelHandle ready, release, process;
};

// The program of this build (zqclean64.exe or zqclean32.exe), started as an administrator
// would start it; Finish gives its exit code, 0xdeadbeef when it did not start or end within
// two minutes.
std::wstring Program();
KernelHandle Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& dir);
DWORD Finish(const KernelHandle& process);
DWORD Launch(const std::wstring& arguments, const std::wstring& dir);
const DWORD kCompletedRun = 0xFFFFFFFF;  // status -1: no step writes a value for success

// The run in-process: a status block naming <scriptDir>\zqclean.ini and workDir, the prepared
// copy written with srvcText, the run log at C:\zqtest\runlog\<logName>.log.
struct RunOutcome {
    Lines lines;
    int status = 0;
};
RunOutcome RunWithScript(const std::wstring& scriptDir, const std::string& srvcText,
                         const std::wstring& workDir, const std::string& logName);

// The log of a completed run whose script lists only files, assemblies and folders, each
// phase with the item lines given and all of them counted (scriptDir empty: no status block).
Lines RunLog(const std::wstring& scriptDir, const Lines& files, const Lines& assemblies, const Lines& folders);
Lines Joined(std::initializer_list<Lines> parts);

// What a call that can fail gives back: whether it did what it was asked and, when it did not,
// the system's error code, read right after the call that failed and carried as it is to the
// line that logs it. Nothing reads the thread's last error later, after other calls.
#pragma once

#include <windows.h>

struct Result {
    bool ok;
    DWORD error;  // ERROR_SUCCESS when ok
};

inline Result Succeeded() { return {true, ERROR_SUCCESS}; }
inline Result FailedBy(DWORD error) { return {false, error}; }
// The failure of the system call just made: its last error, read at once.
inline Result LastFailure() { return {false, GetLastError()}; }
// A system call's BOOL, its last error read right after a failure.
inline Result Checked(BOOL done) { return done ? Succeeded() : LastFailure(); }
// A registry call's status: the registry returns its error instead of setting it.
inline Result FromStatus(LONG status) { return {status == ERROR_SUCCESS, static_cast<DWORD>(status)}; }
// Out of memory, or a text that cannot be formed.
inline Result NoMemory() { return FailedBy(ERROR_NOT_ENOUGH_MEMORY); }

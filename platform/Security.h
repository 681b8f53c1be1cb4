// Who may change a file or folder: what only the system account and the administrators may
// change is made so, and checked so before it is trusted.
#pragma once

#include <windows.h>

#include "foundation/Handles.h"
#include "foundation/Result.h"

// Security for a new folder or file that only the system account and the administrators may
// change (or read): full control for both, nothing inherited from above, and everything made
// inside it inherits the same.
struct OwnSecurity {
    LocalBlock descriptor;
    SECURITY_ATTRIBUTES attributes = {};
};
Result MakeOwnSecurity(OwnSecurity* security);

// Whether anyone but the system account, the administrators and the account this process runs
// as may change the file or folder: write to it, delete it, change its security, or own it. True
// also when that cannot be told.
bool OthersMayChange(const wchar_t* path);

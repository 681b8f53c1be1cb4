// What a script may never remove, whatever it says.
#pragma once

#include "engine/Target.h"

// A drive root, a share root or the Windows folder.
bool IsProtectedFolder(const wchar_t* path);

// Whether the target is one the system needs; *error then says why it is refused.
bool IsRefused(const Target& target, DWORD* error);

// What changes on its own, whatever was installed: recorded like everything else, but a draft
// lists its changes as skipped, never as entries.
#pragma once

// Why the key (path below HKEY_LOCAL_MACHINE) and everything below it is noise, or null.
const char* KeyNoise(const wchar_t* path);
// Why the file is noise, or null.
const char* FileNoise(const wchar_t* path);

// Scratch registry keys for the tests: created, inspected and removed with plain Win32 calls
// (not the program's own code).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Removes the key at path with everything below it; a missing key is fine.
void RemoveScratchKey(HKEY root, const std::wstring& path);
// Creates the key (and any missing parents) and sets string values name=data on it; the
// name "" is the default value.
void MakeKey(HKEY root, const std::wstring& path,
             const std::vector<std::pair<std::wstring, std::wstring>>& values = {});
// A three-level tree below path: path, path\one, path\one\two, path\one\two\three, plus
// path\side, with two values (one of them the default) on every key.
void MakeDeepTree(HKEY root, const std::wstring& path);

bool KeyExists(HKEY root, const std::wstring& path);
bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name);
// Numbers of subkeys and values of an existing key; -1 when it cannot be opened.
int SubkeyCount(HKEY root, const std::wstring& path);
int ValueCount(HKEY root, const std::wstring& path);

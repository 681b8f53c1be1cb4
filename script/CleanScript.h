// The cleaning script model: one list per script section plus the lists the run fills.
#pragma once

#include <stdio.h>

#include "foundation/zqList.h"
#include "foundation/zqString.h"

class zqCleanScript {
public:
    zqCleanScript() = default;
    ~zqCleanScript();
    zqCleanScript(const zqCleanScript&) = delete;
    zqCleanScript& operator=(const zqCleanScript&) = delete;

    // Appends the entries of an open text stream, from its position to its end.
    void Read(FILE* stream);
    // Empties every list; excludeFolders is kept.
    void Clear();

    bool excludeFolders = false;
    zqList<zqWString> folders;
#ifdef _WIN64
    zqList<zqWString> wowTwins;  // scratch list of the target expansion
#endif
    zqList<zqWString> maskedFiles;
    zqList<zqWString> files;
    zqList<zqWString> devices;
    zqList<zqWString> drivers;
    zqList<zqWString> infs;
    zqList<zqWString> registry;
    zqList<zqWString> exFolders;
    zqList<zqWString> searchDirs;
    zqList<zqString> deviceKeys;
    zqList<zqWString> drvPackages;
    zqList<zqWString> dotNet;
};

// Appends a heap copy of text to a list of the model; an entry whose string cannot be had (no
// memory, or text that cannot be converted) is dropped, and the caller goes on.
void AppendEntry(zqList<zqWString>& list, const char* text);
void AppendEntry(zqList<zqWString>& list, const wchar_t* text);

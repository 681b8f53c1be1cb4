#include "script/CleanScript.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "foundation/Handles.h"
#include "script/ExpandPath.h"
#include "script/LineRules.h"

namespace {

template <typename C>
void AppendAny(zqList<zqWString>& list, const C* text)
{
    zqWString* entry = new (std::nothrow) zqWString;
    if (entry != nullptr && !entry->Assign(text)) {
        delete entry;
        return;
    }
    list.AppendOwned(entry);
}

}  // namespace

void AppendEntry(zqList<zqWString>& list, const char* text) { AppendAny(list, text); }
void AppendEntry(zqList<zqWString>& list, const wchar_t* text) { AppendAny(list, text); }

namespace {

const char kExcludeFoldersKey[] = "excludefolders";
const int kExcludeFoldersKeyLength = 14;
const int kExcludeFoldersDigit = 15;  // the key, one separator, then the digit

}  // namespace

zqCleanScript::~zqCleanScript()
{
    Clear();
}

void zqCleanScript::Clear()
{
    folders.RemoveAll();
    maskedFiles.RemoveAll();
    files.RemoveAll();
    devices.RemoveAll();
    drivers.RemoveAll();
    infs.RemoveAll();
    registry.RemoveAll();
    exFolders.RemoveAll();
    searchDirs.RemoveAll();
    deviceKeys.RemoveAll();
    drvPackages.RemoveAll();
    dotNet.RemoveAll();
#ifdef _WIN64
    wowTwins.RemoveAll();
#endif
}

void zqCleanScript::Read(FILE* stream)
{
    if (stream == nullptr)
        return;
    char line[kScriptLineBufferSize];
    int length = 0;
    ScriptSection section = SectionNone;
    while (ReadScriptLine(stream, line, &length)) {
        if (length == 0)
            continue;
        if (IsHeaderLine(line, length)) {
            section = SectionFromHeader(line);
            continue;
        }
        zqList<zqWString>* list = nullptr;
        switch (section) {
        case SectionNone:
            break;
        case SectionGeneral: {
            char key[kExcludeFoldersKeyLength + 1] = {};
            for (int i = 0; i < kExcludeFoldersKeyLength && i < length; ++i)
                key[i] = static_cast<char>(tolower(static_cast<unsigned char>(line[i])));
            // The separator after the key is not looked at; only the digit decides.
            if (strcmp(key, kExcludeFoldersKey) == 0)
                excludeFolders = length > kExcludeFoldersDigit && line[kExcludeFoldersDigit] == '1';
            break;
        }
        case SectionFolders: {
            char* equals = strchr(line, '=');
            if (equals != nullptr)
                *equals = 0;
            char* expanded = nullptr;
            ExpandPathA(line, &expanded);
            HeapBlock block(expanded);
            // Without memory for the expansion the entry stays, empty, and the run passes it over.
            AppendEntry(folders, expanded != nullptr ? expanded : "");
            break;
        }
        case SectionFiles: list = &files; break;
        case SectionDevices: list = &devices; break;
        case SectionExFolders: list = &exFolders; break;
        case SectionDrivers: list = &drivers; break;
        case SectionInfs: list = &infs; break;
        case SectionRegistry: list = &registry; break;
        case SectionMaskedFiles: list = &maskedFiles; break;
        case SectionDrvPackages: list = &drvPackages; break;
        case SectionDotNet: list = &dotNet; break;
        }
        if (list != nullptr)
            AppendEntry(*list, line);
    }
}

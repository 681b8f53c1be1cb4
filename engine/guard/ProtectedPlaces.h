// The places and names the guard protects, as the system names them once a run: what the guard's
// sources fill and ask.
#pragma once

#include <windows.h>

#include "foundation/Handles.h"
#include "foundation/StringList.h"
#include "foundation/TextIndex.h"
#include "foundation/zqList.h"
#include "platform/LocalPlace.h"

typedef BOOL(WINAPI* SfcIsFileProtectedFn)(HANDLE rpc, const wchar_t* path);

// The system's own INF files (every INF file of the INF folder not named oem*.inf), read at
// the first question about them.
struct SystemInfs {
    bool read = false;
    bool whole = true;         // false: one of them could not be read, and nothing can be told apart
    zqList<zqString> texts;    // their texts, single-byte as the INF phase compares them
    StringList services;       // the services they install (AddService), lower-cased
    TextIndex serviceIndex;
};

struct ProtectedPlaces {
    StringList folders;        // lower-cased: protected as themselves, and every folder above them
    TextIndex folderIndex;
    StringList trees;          // lower-cased: folders whose whole tree is the system's
    TextIndex treeIndex;
    StringList runFiles;       // lower-cased: the run's own program, script, copy, log and reports
    TextIndex runFileIndex;
    StringList runFolders;     // lower-cased: every folder that holds one of them
    TextIndex runFolderIndex;
    zqWString infFolder;       // lower-cased
    bool untold = false;       // a folder the system names could not be read in full: every folder is protected
    LoadedModule sfc;          // the system's own protected-file check, where there is one
    SfcIsFileProtectedFn isFileProtected = nullptr;
    mutable PlaceCache placeCache;  // the folders resolved last
    mutable SystemInfs infs;
};


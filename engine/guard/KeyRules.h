// How a key where products keep their own entries tells the system's own entries from the
// products': shared by the guard's key sources.
#pragma once

#include "guard/ProtectedPlaces.h"

enum class ChildRule {
    Products,     // every entry is a product's
    Classes,      // file types, classes and protocols: the system's by name or by their handler
    ClassIds,     // CLSID: a class whose server is a protected file
    Interfaces,   // an interface whose proxy class is the system's
    TypeLibs,     // a type library that is a protected file
    AppIds,       // an application id run by one of the system's services
    Handlers,     // shell extension lists: entries named by (or naming) a class, the system's by it
    Files,        // Run, App Paths, SharedDLLs, ...: entries naming a protected file, a few by name
    Verbs,        // a shell verb list: the system's own verbs by name
    Services,     // a service the system ships
    Devices,      // an enumerator shared by all, a device the system's driver runs
    Environment,  // values only, the system's own by name
};

// One entry of a collection as it is in the registry: the child key (its path below root) and
// what lies below it in the key asked about (empty when the child itself is asked).
struct ChildAsked {
    HKEY root;
    const wchar_t* childPath;
    const wchar_t* childName;
    const wchar_t* below;
};

// Whether the child (a key, or something below it) is the system's own under the rule.
bool IsSystemChild(const ProtectedPlaces& places, ChildRule rule, const ChildAsked& child);
// Whether a value of the collection key itself (at keyPath below root) is the system's own.
bool IsSystemValue(const ProtectedPlaces& places, ChildRule rule, HKEY root, const wchar_t* keyPath,
                   const wchar_t* valueName);
// A class id ("{...}") whose server is a protected file.
bool IsSystemClassId(const ProtectedPlaces& places, const wchar_t* clsid);
// A device key (its path below HKEY_LOCAL_MACHINE, down to the device id) that the system's own
// driver runs, or a device id a shared enumerator does not hold whole.
bool IsSystemDevice(const ProtectedPlaces& places, const wchar_t* enumPath, const wchar_t* enumerator,
                    const wchar_t* below);
// A service that one of the system's own INF files installs (read at the first question).
bool IsServiceOfSystemInfs(const ProtectedPlaces& places, const wchar_t* name);

// Registry links: a key whose "SymbolicLinkValue" (REG_LINK) names another key. Opened as it is
// (REG_OPTION_OPEN_LINK) a link is the link itself; opened plainly, the key it names.
#pragma once

#include <windows.h>

#include "foundation/zqString.h"

// Opens name below parent without following a link at its last part.
LONG OpenKeyAsItIs(HKEY parent, const wchar_t* name, REGSAM access, HKEY* key);
// Whether a key opened as it is is a link.
bool IsLinkKey(HKEY key);
// The key a link names: its root (HKEY_LOCAL_MACHINE or HKEY_USERS) and the path below it.
bool LinkTarget(HKEY link, HKEY* root, zqWString* path);
// Deletes a key through its own handle, so that a link opened as it is goes as itself and the
// key it names stays. The system's error code, or ERROR_SUCCESS.
LONG DeleteOpenKey(HKEY key);

// What a key path reaches, every link along it followed to the key it names. A part that does
// not exist ends the walk: the rest is taken as written.
struct KeyReach {
    HKEY root = nullptr;
    zqWString path;
    int links = 0;
};
// Called for every link met on the way, with the link's own root and path.
struct LinkVisitor {
    void (*Visit)(HKEY root, const wchar_t* linkPath, void* context) = nullptr;
    void* context = nullptr;
};
// The walk starts in view (0: the process's own). False when it cannot be told: a part that
// cannot be read, a link that names no key, links that go round.
bool ReachKey(HKEY root, const wchar_t* path, KeyReach* reach, const LinkVisitor& visitor = LinkVisitor(),
              REGSAM view = 0);

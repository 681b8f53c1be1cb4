// The registry keys and values the system and every other product need. A key is judged by
// the deepest entry of the table it is or lies in: a tree of the system's own is the system's
// whole, a key where products keep their own entries keeps its own values and the system's
// entries in it, and lets the products' go. A key reached through a link is judged by both of
// its names.
#include <wchar.h>
#include <wctype.h>

#include "guard/Guard.h"
#include "guard/KeyRules.h"
#include "registry/RegistryLinks.h"
#include "registry/RegistryPrimitives.h"

namespace {

enum class KeyKind { SystemTree, Collection };

struct KeyEntry {
    const wchar_t* key;  // canonical: "HKLM\..." or "HKU\*\..." for every user's hive
    KeyKind kind;
    ChildRule rule;
};

#define ZQ_CV L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\"
#define ZQ_NT L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\"
#define ZQ_CLASSES L"HKLM\\SOFTWARE\\CLASSES\\"
#define ZQ_CCS L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\"
#define ZQ_USER L"HKU\\*\\"

const KeyKind kTree = KeyKind::SystemTree;
const KeyKind kList = KeyKind::Collection;

const KeyEntry kKeys[] = {
    // Where products keep their own keys.
    {L"HKLM", kList, ChildRule::Products},
    {L"HKLM\\SOFTWARE", kList, ChildRule::Products},
    {L"HKU\\*", kList, ChildRule::Products},
    {ZQ_USER L"SOFTWARE", kList, ChildRule::Products},
    // The system's own trees.
    {L"HKLM\\SOFTWARE\\MICROSOFT", kTree, ChildRule::Products},
    {L"HKLM\\SOFTWARE\\POLICIES\\MICROSOFT", kTree, ChildRule::Products},
    {L"HKLM\\SYSTEM", kTree, ChildRule::Products},
    {L"HKLM\\SAM", kTree, ChildRule::Products},
    {L"HKLM\\SECURITY", kTree, ChildRule::Products},
    {L"HKLM\\HARDWARE", kTree, ChildRule::Products},
    {L"HKLM\\BCD00000000", kTree, ChildRule::Products},
    {L"HKLM\\COMPONENTS", kTree, ChildRule::Products},
    {L"HKLM\\SCHEMA", kTree, ChildRule::Products},
    {L"HKLM\\DRIVERS", kTree, ChildRule::Products},
    {L"HKLM\\ELAM", kTree, ChildRule::Products},
    {ZQ_USER L"SOFTWARE\\MICROSOFT", kTree, ChildRule::Products},
    {ZQ_USER L"SOFTWARE\\POLICIES\\MICROSOFT", kTree, ChildRule::Products},
    {ZQ_USER L"CONTROL PANEL", kTree, ChildRule::Products},
    {ZQ_USER L"KEYBOARD LAYOUT", kTree, ChildRule::Products},
    {ZQ_USER L"NETWORK", kTree, ChildRule::Products},
    {ZQ_USER L"CONSOLE", kTree, ChildRule::Products},
    {ZQ_USER L"PRINTERS", kTree, ChildRule::Products},
    {ZQ_USER L"SYSTEM", kTree, ChildRule::Products},
    {ZQ_USER L"EUDC", kTree, ChildRule::Products},
    {ZQ_USER L"APPEVENTS", kTree, ChildRule::Products},
    // Classes: the system's file types, classes and protocols stay, the products' go.
    {L"HKLM\\SOFTWARE\\CLASSES", kList, ChildRule::Classes},
    {ZQ_CLASSES L"CLSID", kList, ChildRule::ClassIds},
    {ZQ_CLASSES L"INTERFACE", kList, ChildRule::Interfaces},
    {ZQ_CLASSES L"TYPELIB", kList, ChildRule::TypeLibs},
    {ZQ_CLASSES L"APPID", kList, ChildRule::AppIds},
    // The shell's extension lists and verbs, below the system's own classes.
    {ZQ_CLASSES L"*\\SHELLEX\\CONTEXTMENUHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"*\\SHELLEX\\PROPERTYSHEETHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"*\\SHELL", kList, ChildRule::Verbs},
    {ZQ_CLASSES L"DIRECTORY\\SHELLEX\\CONTEXTMENUHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"DIRECTORY\\SHELLEX\\PROPERTYSHEETHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"DIRECTORY\\SHELLEX\\DRAGDROPHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"DIRECTORY\\SHELLEX\\COPYHOOKHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"DIRECTORY\\SHELL", kList, ChildRule::Verbs},
    {ZQ_CLASSES L"DIRECTORY\\BACKGROUND\\SHELLEX\\CONTEXTMENUHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"DIRECTORY\\BACKGROUND\\SHELL", kList, ChildRule::Verbs},
    {ZQ_CLASSES L"FOLDER\\SHELLEX\\CONTEXTMENUHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"FOLDER\\SHELLEX\\COLUMNHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"FOLDER\\SHELL", kList, ChildRule::Verbs},
    {ZQ_CLASSES L"DRIVE\\SHELLEX\\CONTEXTMENUHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"DRIVE\\SHELLEX\\PROPERTYSHEETHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"DRIVE\\SHELL", kList, ChildRule::Verbs},
    {ZQ_CLASSES L"ALLFILESYSTEMOBJECTS\\SHELLEX\\CONTEXTMENUHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CLASSES L"ALLFILESYSTEMOBJECTS\\SHELLEX\\PROPERTYSHEETHANDLERS", kList, ChildRule::Handlers},
    // Below SOFTWARE\Microsoft: the lists products add their own entries to.
    {ZQ_CV L"RUN", kList, ChildRule::Files},
    {ZQ_CV L"RUNONCE", kList, ChildRule::Files},
    {ZQ_CV L"RUNONCEEX", kList, ChildRule::Files},
    {ZQ_CV L"RUNSERVICES", kList, ChildRule::Files},
    {ZQ_CV L"RUNSERVICESONCE", kList, ChildRule::Files},
    {ZQ_CV L"UNINSTALL", kList, ChildRule::Products},
    {ZQ_CV L"APP PATHS", kList, ChildRule::Files},
    {ZQ_CV L"SHAREDDLLS", kList, ChildRule::Files},
    {ZQ_CV L"CONTROL PANEL\\CPLS", kList, ChildRule::Files},
    {ZQ_CV L"SHELL EXTENSIONS\\APPROVED", kList, ChildRule::Handlers},
    {ZQ_CV L"SHELL EXTENSIONS\\BLOCKED", kList, ChildRule::Handlers},
    {ZQ_CV L"SHELLSERVICEOBJECTDELAYLOAD", kList, ChildRule::Handlers},
    {ZQ_CV L"PREVIEWHANDLERS", kList, ChildRule::Handlers},
    {ZQ_CV L"EXPLORER\\SHELLICONOVERLAYIDENTIFIERS", kList, ChildRule::Handlers},
    {ZQ_CV L"EXPLORER\\BROWSER HELPER OBJECTS", kList, ChildRule::Handlers},
    {ZQ_CV L"EXPLORER\\SHELLEXECUTEHOOKS", kList, ChildRule::Handlers},
    {ZQ_CV L"EXPLORER\\DESKTOP\\NAMESPACE", kList, ChildRule::Handlers},
    {ZQ_CV L"EXPLORER\\MYCOMPUTER\\NAMESPACE", kList, ChildRule::Handlers},
    {ZQ_CV L"EXPLORER\\CONTROLPANEL\\NAMESPACE", kList, ChildRule::Handlers},
    {ZQ_CV L"EXPLORER\\VOLUMECACHES", kList, ChildRule::Handlers},
    {ZQ_CV L"EXPLORER\\AUTOPLAYHANDLERS\\HANDLERS", kList, ChildRule::Products},
    {ZQ_NT L"WINLOGON\\NOTIFY", kList, ChildRule::Products},
    {ZQ_NT L"IMAGE FILE EXECUTION OPTIONS", kList, ChildRule::Products},
    {ZQ_NT L"FONTS", kList, ChildRule::Files},
    {ZQ_NT L"DRIVERS32", kList, ChildRule::Files},
    {L"HKLM\\SOFTWARE\\MICROSOFT\\ACTIVE SETUP\\INSTALLED COMPONENTS", kList, ChildRule::Products},
    {L"HKLM\\SOFTWARE\\POLICIES", kList, ChildRule::Products},
    {L"HKLM\\SOFTWARE\\CLIENTS", kList, ChildRule::Products},
    {L"HKLM\\SOFTWARE\\REGISTEREDAPPLICATIONS", kList, ChildRule::Products},
    // Below SYSTEM: the services, the devices, event sources and the environment's values.
    {ZQ_CCS L"SERVICES", kList, ChildRule::Services},
    {ZQ_CCS L"SERVICES\\EVENTLOG\\APPLICATION", kList, ChildRule::Products},
    {ZQ_CCS L"ENUM", kList, ChildRule::Devices},
    {ZQ_CCS L"CONTROL\\SESSION MANAGER\\ENVIRONMENT", kList, ChildRule::Environment},
    // Each user's lists.
    {ZQ_USER L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN", kList, ChildRule::Files},
    {ZQ_USER L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE", kList, ChildRule::Files},
    {ZQ_USER L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL", kList, ChildRule::Products},
    {ZQ_USER L"SOFTWARE\\POLICIES", kList, ChildRule::Products},
    {ZQ_USER L"ENVIRONMENT", kList, ChildRule::Environment},
};

// Replaces the segment at [at, at + length) of key by replacement.
bool Respell(zqWString* key, size_t at, size_t length, const wchar_t* replacement)
{
    zqWString respelled;
    if (!FormatInto(respelled, L"%.*s%s%s", static_cast<int>(at), key->Get(), replacement, key->Get() + at + length))
        return false;
    return key->Assign(respelled.Get());
}

// The key as the table spells it: "HKLM\..." or "HKU\*\...", upper case, single separators,
// the control sets as CURRENTCONTROLSET and the 32-bit and per-user views folded in.
bool CanonicalKey(HKEY root, const wchar_t* path, zqWString* key)
{
    const wchar_t* prefix = root == HKEY_LOCAL_MACHINE    ? L"HKLM"
                            : root == HKEY_USERS          ? L"HKU"
                            : root == HKEY_CURRENT_USER   ? L"HKU\\*"
                            : root == HKEY_CLASSES_ROOT   ? L"HKLM\\SOFTWARE\\CLASSES"
                            : root == HKEY_CURRENT_CONFIG ? L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\HARDWARE PROFILES\\CURRENT"
                                                          : nullptr;
    zqWString rest;
    if (prefix == nullptr || !rest.Assign(path != nullptr ? path : L""))
        return false;
    // Single separators, none at either end.
    int out = 0;
    for (int i = 0; i < rest.length; ++i) {
        if (rest.buffer[i] != L'\\' || (out > 0 && rest.buffer[out - 1] != L'\\'))
            rest.buffer[out++] = rest.buffer[i];
    }
    while (out > 0 && rest.buffer[out - 1] == L'\\')
        --out;
    rest.Reserve(out);
    if (!FormatInto(*key, out > 0 ? L"%s\\%s" : L"%s", prefix, rest.Get()))
        return false;
    _wcsupr(key->buffer);
    // Every hive of HKEY_USERS is one user's: "HKU\<hive>\..." is "HKU\*\...", and a user's
    // classes hive ("<sid>_Classes") is the classes the machine's keys mirror.
    if (wcsncmp(key->Get(), L"HKU\\", 4) == 0 && key->buffer[4] != L'*') {
        size_t hive = wcscspn(key->Get() + 4, L"\\");
        bool classes = hive > 8 && wcsncmp(key->Get() + 4 + hive - 8, L"_CLASSES", 8) == 0;
        if (classes ? !Respell(key, 0, 4 + hive, L"HKLM\\SOFTWARE\\CLASSES") : !Respell(key, 4, hive, L"*"))
            return false;
    }
    const wchar_t* controlSet = wcsstr(key->Get(), L"HKLM\\SYSTEM\\CONTROLSET");
    if (controlSet == key->Get() && iswdigit(key->buffer[22]) && iswdigit(key->buffer[23]) && iswdigit(key->buffer[24]) &&
        (key->buffer[25] == 0 || key->buffer[25] == L'\\') && !Respell(key, 12, 13, L"CURRENTCONTROLSET"))
        return false;
    // The 32-bit view and the user's classes mirror the machine's keys, the mirror key itself
    // included ("SOFTWARE\Wow6432Node" is "SOFTWARE"); folded until none is left.
    static const wchar_t* const mirrors[][2] = {
        {L"HKLM\\SOFTWARE\\WOW6432NODE", L"HKLM\\SOFTWARE"},
        {L"HKLM\\SOFTWARE\\CLASSES\\WOW6432NODE", L"HKLM\\SOFTWARE\\CLASSES"},
        {L"HKU\\*\\SOFTWARE\\CLASSES", L"HKLM\\SOFTWARE\\CLASSES"},
        {L"HKU\\*\\SOFTWARE\\WOW6432NODE", L"HKU\\*\\SOFTWARE"},
    };
    for (bool folded = true; folded;) {
        folded = false;
        for (const auto& mirror : mirrors) {
            size_t length = wcslen(mirror[0]);
            if (wcsncmp(key->Get(), mirror[0], length) != 0 || (key->Get()[length] != 0 && key->Get()[length] != L'\\'))
                continue;
            if (!Respell(key, 0, length, mirror[1]))
                return false;
            folded = true;
        }
    }
    return true;
}

// The deepest entry that is the key or lies above it; *length its length in the key.
const KeyEntry* DeepestEntry(const wchar_t* key, size_t* length)
{
    const KeyEntry* deepest = nullptr;
    *length = 0;
    for (const KeyEntry& entry : kKeys) {
        size_t size = wcslen(entry.key);
        if (size > *length && _wcsnicmp(key, entry.key, size) == 0 && (key[size] == 0 || key[size] == L'\\')) {
            deepest = &entry;
            *length = size;
        }
    }
    return deepest;
}

// The path with single separators and none at either end.
bool PlainKeyPath(const wchar_t* path, zqWString* plain)
{
    if (!plain->Assign(path))
        return false;
    int out = 0;
    for (int i = 0; i < plain->length; ++i) {
        if (plain->buffer[i] != L'\\' || (out > 0 && plain->buffer[out - 1] != L'\\'))
            plain->buffer[out++] = plain->buffer[i];
    }
    while (out > 0 && plain->buffer[out - 1] == L'\\')
        --out;
    if (plain->buffer != nullptr)
        plain->buffer[out] = 0;
    plain->length = out;
    return true;
}

int PartsOf(const wchar_t* text)
{
    int parts = text[0] != 0 ? 1 : 0;
    for (; *text != 0; ++text)
        parts += *text == L'\\' ? 1 : 0;
    return parts;
}

// The key under one of its names, without links: the table's verdict.
bool EntryIsProtected(const ProtectedPlaces& places, HKEY root, const wchar_t* path, const wchar_t* valueName)
{
    zqWString plain, key;
    if (!PlainKeyPath(path, &plain) || !CanonicalKey(root, plain.Get(), &key))
        return true;  // undecidable: refused
    size_t length;
    const KeyEntry* entry = DeepestEntry(key.Get(), &length);
    if (entry == nullptr || entry->kind == KeyKind::SystemTree)
        return true;
    const wchar_t* rest = key.Get() + length;
    if (rest[0] == 0)
        return valueName == nullptr || IsSystemValue(places, entry->rule, root, plain.Get(), valueName);
    if (entry->rule == ChildRule::Environment)
        return true;  // it holds values only
    ++rest;
    size_t childLength = wcscspn(rest, L"\\");
    const wchar_t* below = rest[childLength] != 0 ? rest + childLength + 1 : L"";
    // The child in the registry's own spelling: the key's path without what lies below it
    // (the canonical form only ever respells the front of a path).
    zqWString childPath, childName;
    int drop = PartsOf(below);
    wchar_t* end = plain.buffer + plain.length;
    for (int i = 0; i < drop && end != nullptr; ++i) {
        while (end > plain.buffer && *(end - 1) != L'\\')
            --end;
        end = end > plain.buffer ? end - 1 : nullptr;
    }
    if (end == nullptr || !FormatInto(childPath, L"%.*s", static_cast<int>(end - plain.buffer), plain.Get()) ||
        !FormatInto(childName, L"%.*s", static_cast<int>(childLength), rest))
        return true;
    ChildAsked child = {root, childPath.Get(), childName.Get(), below};
    return IsSystemChild(places, entry->rule, child);
}

}  // namespace

bool IsProtectedKey(const ProtectedPlaces& places, HKEY root, const wchar_t* path, const wchar_t* valueName, REGSAM view)
{
    if (IsRootKeyPath(path))
        return true;
    if (EntryIsProtected(places, root, path, valueName))
        return true;
    // The key a link along the path leads to is judged as well: for a key, the links before
    // its last part (a link there is removed as itself); for a value, every link.
    zqWString plain, reached;
    if (!PlainKeyPath(path, &plain))
        return true;
    wchar_t* last = valueName == nullptr && plain.buffer != nullptr ? wcsrchr(plain.buffer, L'\\') : nullptr;
    if (last != nullptr)
        *last = 0;
    KeyReach reach;
    if (!ReachKey(root, last != nullptr || valueName != nullptr ? plain.Get() : L"", &reach, LinkVisitor(), view))
        return true;  // undecidable: refused
    if (reach.links == 0)
        return false;
    const wchar_t* name = valueName != nullptr ? L"" : last != nullptr ? last + 1 : plain.Get();
    if (!FormatInto(reached, reach.path.length > 0 && name[0] != 0 ? L"%s\\%s" : L"%s%s", reach.path.Get(), name))
        return true;
    return EntryIsProtected(places, reach.root, reached.Get(), valueName);
}

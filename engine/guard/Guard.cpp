// The verdict on one target: files and folders by the local place they reach, keys by the key
// they reach, and for a restore, whether it may be written back where it was.
#include "guard/Guard.h"

#include <wchar.h>

#include "guard/KeyRules.h"
#include "guard/PlaceTables.h"
#include "platform/Paths.h"
#include "registry/RegistryLinks.h"
#include "registry/RegistryPrimitives.h"

namespace {

const char kNetworkReason[] = "a path on another machine: zqclean cleans this machine only";
const char kUnknownPlaceReason[] = "a place that cannot be told: a link along its path cannot be followed";
// ERROR_DIRECTORY_NOT_SUPPORTED: "An operation is not supported on a directory."
const DWORD kFolderNamedAsFile = 336;
const char kRunFileReason[] = "one of the run's own files (its program, script, prepared copy, log or report)";

bool Refuse(DWORD code, const char* why, DWORD* error, const char** reason)
{
    *error = code;
    *reason = why;
    return true;
}

bool InIndex(const TextIndex& index, const wchar_t* path)
{
    zqWString lowered;
    if (!lowered.Assign(path))
        return true;  // undecidable: in it
    LowerCase(lowered.buffer);
    return TextIndexContains(index, lowered.Get());
}

// Finds where a file or folder target is: false, with the refusal, when it is no full path,
// lies on another machine or cannot be told. *at and *leads are made canonical.
bool Locate(const ProtectedPlaces& places, const Target& target, Place* place, zqWString* at, zqWString* leads,
            DWORD* error, const char** reason)
{
    zqWString full;
    if (!FullPath(target.path, &full))
        return target.kind == TargetKind::Folder
                   ? !Refuse(ERROR_BAD_PATHNAME, "not a full path: it would be looked up along the search order", error,
                             reason)
                   : !Refuse(ERROR_ACCESS_DENIED, "a file that cannot be told where it is", error, reason);
    FindPlace(full.Get(), &places.placeCache, place);
    if (place->reach == Reach::Network)
        return !Refuse(ERROR_ACCESS_DENIED, kNetworkReason, error, reason);
    if (place->reach != Reach::Local || !CanonicalPath(place->at.Get(), at) ||
        !CanonicalPath(place->leads.Get(), leads))
        return !Refuse(ERROR_ACCESS_DENIED, kUnknownPlaceReason, error, reason);
    return true;
}

bool FileRefused(const ProtectedPlaces& places, const Target& target, zqWString* at, DWORD* error,
                 const char** reason)
{
    Place place;
    zqWString leads;
    if (!Locate(places, target, &place, at, &leads, error, reason))
        return true;
    if (place.attributes != INVALID_FILE_ATTRIBUTES && (place.attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(kFolderNamedAsFile, "a folder named as a file: only files are removed here", error, reason);
    if (InIndex(places.runFileIndex, at->Get()) || InIndex(places.runFileIndex, leads.Get()))
        return Refuse(ERROR_ACCESS_DENIED, kRunFileReason, error, reason);
    if (IsProtectedFile(places, at->Get()) || IsProtectedFile(places, leads.Get()))
        return Refuse(ERROR_ACCESS_DENIED, "a file that the system protects", error, reason);
    return false;
}

bool FolderRefused(const ProtectedPlaces& places, const Target& target, zqWString* at, DWORD* error,
                   const char** reason)
{
    Place place;
    zqWString leads;
    if (!Locate(places, target, &place, at, &leads, error, reason))
        return true;
    if (IsProtectedFolder(places, at->Get()) || IsProtectedFolder(places, leads.Get()))
        return Refuse(ERROR_ACCESS_DENIED, "a folder that the system or every product needs", error, reason);
    if (InIndex(places.runFolderIndex, at->Get()) || InIndex(places.runFolderIndex, leads.Get()))
        return Refuse(ERROR_ACCESS_DENIED, "a folder that holds the run's own files", error, reason);
    return false;
}

// A device interface key, "...\Control\DeviceClasses\{class}\##?#ENUM#ID#INSTANCE#{class}...":
// the system's when its device is, and only such a key may be removed there.
bool IsSystemInterfaceKey(const ProtectedPlaces& places, const wchar_t* path, bool* isInterface)
{
    static const wchar_t kClasses[] = L"\\Control\\DeviceClasses\\";
    const wchar_t* classes = nullptr;
    for (const wchar_t* c = path; *c != 0 && classes == nullptr; ++c)
        if (_wcsnicmp(c, kClasses, wcslen(kClasses)) == 0)
            classes = c;
    *isInterface = classes != nullptr;
    if (classes == nullptr)
        return false;
    const wchar_t* name = classes + wcslen(kClasses);
    name += wcscspn(name, L"\\");
    if (*name == 0 || _wcsnicmp(name + 1, L"##?#", 4) != 0)
        return true;  // the class key, or no interface of a device
    const wchar_t* enumerator = name + 5;
    size_t enumLength = wcscspn(enumerator, L"#\\");
    const wchar_t* id = enumerator + enumLength;
    zqWString enumPath, enumName, below;
    if (*id != L'#' || !FormatInto(enumPath, L"SYSTEM\\CurrentControlSet\\Enum\\%.*s", static_cast<int>(enumLength), enumerator) ||
        !FormatInto(enumName, L"%.*s", static_cast<int>(enumLength), enumerator) ||
        !FormatInto(below, L"%.*s", static_cast<int>(wcscspn(id + 1, L"#\\")), id + 1))
        return true;
    return below.length == 0 || IsSystemDevice(places, enumPath.Get(), enumName.Get(), below.Get());
}

bool KeyRefused(const ProtectedPlaces& places, const Target& target, DWORD* error, const char** reason)
{
    *error = ERROR_ACCESS_DENIED;
    const wchar_t* value = target.kind == TargetKind::RegistryValue ? target.valueName : nullptr;
    bool isInterface = false;
    bool refused = target.kind == TargetKind::DeviceKey && target.root == HKEY_LOCAL_MACHINE
                       ? IsSystemInterfaceKey(places, target.path, &isInterface)
                       : false;
    if (!isInterface)
        refused = IsProtectedKey(places, target.root, target.path, value, target.view);
    if (!refused)
        return false;
    // The reason, by what the key is.
    const wchar_t* path = target.path != nullptr ? target.path : L"";
    bool service = target.kind == TargetKind::ServiceKey, device = target.kind == TargetKind::DeviceKey;
    for (const wchar_t* c = path; *c != 0; ++c) {
        service = service || _wcsnicmp(c, L"\\Services\\", 10) == 0;
        device = device || _wcsnicmp(c, L"\\Enum\\", 6) == 0;
    }
    *reason = service  ? "one of the system's own services"
              : device ? "an enumerator, a partial device id, or a device that the system's own driver runs"
              : value  ? "a registry value that the system or every product needs"
                       : "a registry key that the system or every product needs";
    return true;
}

struct LinkSeen {
    const ProtectedPlaces* places;
    bool productLink;
};

// A link whose own name is protected is the system's (the 32-bit view, the control set).
void NoteLink(HKEY root, const wchar_t* linkPath, void* context)
{
    LinkSeen* seen = static_cast<LinkSeen*>(context);
    if (!IsProtectedKey(*seen->places, root, linkPath))
        seen->productLink = true;
}

}  // namespace

bool IsRefused(const ProtectedPlaces& places, const Target& target, DWORD* error, const char** reason,
               zqWString* place)
{
    zqWString at;
    bool refused = false;
    *error = ERROR_ACCESS_DENIED;
    switch (target.kind) {
    case TargetKind::Folder:
        refused = FolderRefused(places, target, &at, error, reason);
        break;
    case TargetKind::File:
    case TargetKind::InfFile:
        refused = FileRefused(places, target, &at, error, reason);
        break;
    case TargetKind::RegistryKey:
    case TargetKind::RegistryValue:
    case TargetKind::DeviceKey:
    case TargetKind::ServiceKey:
        return KeyRefused(places, target, error, reason);
    default:
        return false;
    }
    if (place != nullptr && !place->Assign(at.length > 0 ? at.Get() : target.path))
        return Refuse(ERROR_NOT_ENOUGH_MEMORY, "no memory to tell where it is", error, reason);
    return refused;
}

bool IsRefusedForWriting(const ProtectedPlaces& places, const Target& target, DWORD* error, const char** reason)
{
    zqWString full;
    switch (target.kind) {
    case TargetKind::Folder:
    case TargetKind::File:
    case TargetKind::InfFile:
        if (!FullPath(target.path, &full) || LinkAlongPath(full.Get()))
            return Refuse(ERROR_ACCESS_DENIED, "a link along its path: a restore never writes through one", error,
                          reason);
        return false;
    case TargetKind::RegistryKey:
    case TargetKind::RegistryValue:
    case TargetKind::DeviceKey:
    case TargetKind::ServiceKey: {
        LinkSeen seen = {&places, false};
        LinkVisitor visitor;
        visitor.Visit = NoteLink;
        visitor.context = &seen;
        KeyReach reach;
        if (!ReachKey(target.root, target.path, &reach, visitor) || seen.productLink)
            return Refuse(ERROR_ACCESS_DENIED, "a registry link along its path: a restore never writes through one",
                          error, reason);
        return false;
    }
    default:
        return false;
    }
}

// The key places: a new key is drafted whole as a [registry] entry (a file type, a programmatic
// id, a class or a type library by its own key), a new value of a key that was there as
// "KEY:VALUE"; a new service as [drivers] (decided with the INF files), a new device id or
// enumerator as [devices], whose interface keys go with it.
#include <windows.h>
#include <wchar.h>

#include "authoring/Comparison.h"
#include "authoring/Drafting.h"
#include "authoring/Noise.h"

namespace {

struct KeyPass {
    DraftContext* context;
    size_t rootLength;
    StringList devices;   // "ENUMERATOR\ID", or "ENUMERATOR\" for a new enumerator
    StringList patterns;  // the interface key prefixes of the drafted devices, upper case
};

wchar_t Upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// As the device search compares: ASCII letters without regard to case.
bool BeginsWith(const wchar_t* name, const wchar_t* prefix)
{
    for (; *prefix != 0; ++name, ++prefix)
        if (*name == 0 || Upper(*name) != Upper(*prefix))
            return false;
    return true;
}

const wchar_t* LastName(const wchar_t* path)
{
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash != nullptr ? slash + 1 : path;
}

const char kDeviceState[] = "the device's state, which the system keeps";

// A new key's path and its depth below the place's root; null for anything else.
const wchar_t* NewKeyPath(KeyPass& keys, uint32_t item, int* depth)
{
    const Item& it = keys.context->current->items[item];
    if (it.kind != ItemKind::Key || it.state != ItemState::New)
        return nullptr;
    const wchar_t* path = ItemText(*keys.context->current, item);
    *depth = DepthBelow(path, keys.rootLength);
    return path;
}

// A new key, drafted whole. True when nothing below it needs a look of its own.
bool DraftKey(DraftContext& context, const wchar_t* path)
{
    zqWString entry;
    if (!RegistryEntry(path, nullptr, &entry))
        return true;
    if (wcschr(path, L':') != nullptr) {
        Note(context.draft, Section::Registry, entry.Get(),
             L"its path holds a colon, which a script line takes for a value name");
        return true;
    }
    const char* why = nullptr;
    LineFit fit = FitsScriptLine(entry.Get(), &why);
    if (fit != LineFit::Fits) {
        NoteReason(context.draft, Section::Registry, entry.Get(), why);
        return fit == LineFit::Unfit;  // the keys below one that ends in a blank can be written
    }
    Target target = {TargetKind::RegistryKey, path, HKEY_LOCAL_MACHINE};
    // A refused key: its new keys and values get a look of their own.
    return Propose(context.draft, Section::Registry, entry.Get(), target);
}

// Any key place's changes: noise, changed values, new keys and values.
bool DraftKeyChange(DraftContext& context, uint32_t item, const char* noise)
{
    const Listing& listing = *context.current;
    const Item& it = listing.items[item];
    size_t length = 0;
    const wchar_t* key = ItemPath(listing, item, &length);
    bool value = it.kind == ItemKind::Value;
    zqWString entry;
    if (!RegistryEntry(key, value ? ItemText(listing, item) : nullptr, &entry))
        return true;
    if (it.state == ItemState::Unrecorded) {
        Note(context.draft, Section::Registry, entry.Get(), L"it could not be read when the snapshot was taken");
        return true;
    }
    if (noise != nullptr) {
        zqWString why;
        if (FormatInto(why, L"skipped as noise: %S", noise))
            Note(context.draft, Section::Registry, entry.Get(), why.Get());
        return true;
    }
    if (!value)
        return DraftKey(context, key);
    if (it.state == ItemState::Changed) {
        Note(context.draft, Section::Registry, entry.Get(), L"changed since the snapshot: it was there before");
    } else if (wcschr(key, L':') != nullptr) {
        Note(context.draft, Section::Registry, entry.Get(),
             L"its key's path holds a colon, which a script line takes for a value name");
    } else {
        Target target = {TargetKind::RegistryValue, key, HKEY_LOCAL_MACHINE};
        target.valueName = ItemText(listing, item);
        Propose(context.draft, Section::Registry, entry.Get(), target);
    }
    return false;
}

bool SoftwareChange(void* pass, int, uint32_t item)
{
    KeyPass& keys = *static_cast<KeyPass*>(pass);
    size_t length = 0;
    return DraftKeyChange(*keys.context, item, KeyNoise(ItemPath(*keys.context->current, item, &length)));
}

// A service that appeared waits for the INF files; the rest is any key's change.
bool ServiceChange(void* pass, int, uint32_t item)
{
    KeyPass& keys = *static_cast<KeyPass*>(pass);
    const Item& it = keys.context->current->items[item];
    size_t length = 0;
    const wchar_t* path = ItemPath(*keys.context->current, item, &length);
    const char* noise = KeyNoise(path);
    if (it.kind == ItemKind::Key && it.state == ItemState::New && noise == nullptr &&
        DepthBelow(path, keys.rootLength) == 1) {
        AppendEntry(keys.context->drivers, LastName(path));
        return true;
    }
    return DraftKeyChange(*keys.context, item, noise);
}

// Below Enum: a new enumerator or device id is a [devices] entry; a new instance of a device
// that was there cannot be one; the rest is the system's own device state.
bool DeviceChange(void* pass, int, uint32_t item)
{
    KeyPass& keys = *static_cast<KeyPass*>(pass);
    DraftContext& context = *keys.context;
    int depth = 0;
    size_t length = 0;
    const wchar_t* path = NewKeyPath(keys, item, &depth);
    const char* noise = KeyNoise(ItemPath(*context.current, item, &length));
    if (noise != nullptr || path == nullptr || depth == 0 || depth > 3)
        return DraftKeyChange(context, item, noise != nullptr ? noise : kDeviceState);
    zqWString id;
    if (!FormatInto(id, depth == 1 ? L"%s\\" : L"%s", path + keys.rootLength + 1))
        return true;
    if (depth == 3) {
        zqWString why;
        if (FormatInto(why, L"a new instance of a device that was there before: [devices] %.*s would remove "
                            L"every instance", static_cast<int>(wcsrchr(id.Get(), L'\\') - id.Get()), id.Get()))
            Note(context.draft, Section::Devices, id.Get(), why.Get());
        return true;
    }
    AppendEntry(keys.devices, id.Get());
    return true;
}

// The first key at depth of place whose name begins with prefix and that was there before; -1
// when every such key is new.
int64_t OldKeyBeginningWith(const Listing& listing, int place, size_t rootLength, const wchar_t* below, int depth,
                            const wchar_t* prefix)
{
    size_t belowLength = wcslen(below);
    for (uint32_t i = listing.placeStart[place]; i < listing.placeStart[place + 1]; ++i) {
        uint32_t item = listing.order[i];
        const Item& it = listing.items[item];
        const wchar_t* path = ItemText(listing, item);
        if (it.kind == ItemKind::Key && it.state != ItemState::New && DepthBelow(path, rootLength) == depth &&
            IsAtOrBelow(path, it.length, below, belowLength) && BeginsWith(LastName(path), prefix))
            return item;
    }
    return -1;
}

// A [devices] entry takes every device key below its enumerator whose id begins with its id,
// and every interface key that begins with "##?#ENUMERATOR#ID": all of them must be new.
void DraftDevice(KeyPass& keys, const wchar_t* id, int enumPlace, int classPlace)
{
    DraftContext& context = *keys.context;
    const Listing& listing = *context.current;
    const WalkedPlace& enumKey = context.places->list[enumPlace];
    size_t split = wcscspn(id, L"\\");
    const wchar_t* device = id + split + 1;
    zqWString enumerator, pattern, keyPath, why;
    if (!FormatInto(enumerator, L"%s\\%.*s", enumKey.root.Get(), static_cast<int>(split), id) ||
        !FormatInto(pattern, L"##?#%.*s#%s", static_cast<int>(split), id, device) ||
        !FormatInto(keyPath, device[0] != 0 ? L"%s\\%s" : L"%s", enumerator.Get(), device))
        return;
    for (const wchar_t* c = id; *c != 0; ++c)
        if (*c > 0xFF) {
            Note(context.draft, Section::Devices, id, L"the device search reads ids in single-byte text only");
            return;
        }
    int64_t old = -1;
    if (device[0] != 0)
        old = OldKeyBeginningWith(listing, enumPlace, static_cast<size_t>(enumKey.root.length), enumerator.Get(), 2,
                                  device);
    if (old < 0 && classPlace >= 0) {
        const WalkedPlace& classes = context.places->list[classPlace];
        old = OldKeyBeginningWith(listing, classPlace, static_cast<size_t>(classes.root.length), classes.root.Get(), 2,
                                  pattern.Get());
    }
    if (old >= 0) {
        if (FormatInto(why, L"it would also take %s, which was there before",
                       ItemText(listing, static_cast<uint32_t>(old))))
            Note(context.draft, Section::Devices, id, why.Get());
        return;
    }
    Target target = {TargetKind::DeviceKey, keyPath.Get(), HKEY_LOCAL_MACHINE};
    if (!Propose(context.draft, Section::Devices, id, target))
        return;
    AppendEntry(keys.patterns, pattern.Get());
    // The device search leaves a new enumerator's own key: the registry phase before it takes it.
    if (device[0] == 0)
        DraftKey(context, enumerator.Get());
}

// Below DeviceClasses: a new interface class is a key of its own; a new interface key goes
// with its drafted device; the rest is the system's own device state.
bool InterfaceChange(void* pass, int, uint32_t item)
{
    KeyPass& keys = *static_cast<KeyPass*>(pass);
    DraftContext& context = *keys.context;
    int depth = 0;
    const wchar_t* path = NewKeyPath(keys, item, &depth);
    if (path == nullptr || depth == 0 || depth > 2)
        return DraftKeyChange(context, item, kDeviceState);
    if (depth == 1)
        return DraftKey(context, path);
    for (int i = 0; i < keys.patterns.count; ++i)
        if (BeginsWith(LastName(path), keys.patterns.At(i)->Get()))
            return true;  // its device's [devices] entry takes it
    zqWString entry;
    if (RegistryEntry(path, nullptr, &entry))
        Note(context.draft, Section::Devices, entry.Get(), L"a device interface of a device that was there before");
    return true;
}

}  // namespace

bool RegistryEntry(const wchar_t* path, const wchar_t* value, zqWString* entry)
{
    return value != nullptr ? FormatInto(*entry, L"HKEY_LOCAL_MACHINE\\%s:%s", path, value)
                            : FormatInto(*entry, L"HKEY_LOCAL_MACHINE\\%s", path);
}

int PlaceOfUse(const DraftContext& context, PlaceUse use, int after)
{
    for (int p = after + 1; p < context.places->count; ++p)
        if (context.places->list[p].use == use)
            return p;
    return -1;
}

void DraftKeyPlaces(DraftContext& context)
{
    KeyPass keys;
    keys.context = &context;
    for (int p = 0; p < context.places->count; ++p) {
        PlaceUse use = context.places->list[p].use;
        keys.rootLength = static_cast<size_t>(context.places->list[p].root.length);
        if (use == PlaceUse::SoftwareKeys)
            ForEachChange(*context.current, p, SoftwareChange, &keys);
        else if (use == PlaceUse::ServiceKeys)
            ForEachChange(*context.current, p, ServiceChange, &keys);
    }
    int enumPlace = PlaceOfUse(context, PlaceUse::DeviceKeys);
    int classPlace = PlaceOfUse(context, PlaceUse::InterfaceKeys);
    if (enumPlace >= 0) {
        keys.rootLength = static_cast<size_t>(context.places->list[enumPlace].root.length);
        ForEachChange(*context.current, enumPlace, DeviceChange, &keys);
        for (int i = 0; i < keys.devices.count; ++i)
            DraftDevice(keys, keys.devices.At(i)->Get(), enumPlace, classPlace);
    }
    if (classPlace >= 0) {
        keys.rootLength = static_cast<size_t>(context.places->list[classPlace].root.length);
        ForEachChange(*context.current, classPlace, InterfaceChange, &keys);
    }
}

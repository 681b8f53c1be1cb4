#include "authoring/Comparison.h"

namespace {

ItemState StateOf(const Item& now, const Item& then)
{
    if (then.type == kUnreadable && now.type != kUnreadable && now.kind != ItemKind::Value)
        return ItemState::Unrecorded;
    bool differs = now.size != then.size || now.stamp != then.stamp;
    bool changed = (now.kind == ItemKind::File && differs) ||
                   (now.kind == ItemKind::Value && (differs || now.type != then.type));
    return changed ? ItemState::Changed : ItemState::Same;
}

}  // namespace

void CompareWithSnapshot(Listing& current, const Places& currentPlaces, const Listing& snapshot,
                         const Places& snapshotPlaces, uint32_t* unrecorded)
{
    *unrecorded = 0;
    for (int p = 0; p < currentPlaces.count; ++p) {
        const WalkedPlace& place = currentPlaces.list[p];
        int q = FindPlace(snapshotPlaces, place.use, place.root.Get());
        uint32_t i = current.placeStart[p], end = current.placeStart[p + 1];
        if (q < 0) {
            *unrecorded |= 1u << p;
            continue;  // every item stays as it was: nothing of it is drafted
        }
        // Both in walk order: one pass over the two.
        uint32_t j = snapshot.placeStart[q], snapshotEnd = snapshot.placeStart[q + 1];
        for (; i < end; ++i) {
            uint32_t now = current.order[i];
            int order = 1;
            while (j < snapshotEnd && (order = CompareItems(current, now, snapshot, snapshot.order[j])) > 0)
                ++j;
            if (j == snapshotEnd || order < 0) {
                current.items[now].state = ItemState::New;
                continue;
            }
            current.items[now].state = StateOf(current.items[now], snapshot.items[snapshot.order[j++]]);
        }
    }
}

void ForEachChange(const Listing& current, int place, ChangeHandler handle, void* context)
{
    const wchar_t* taken = nullptr;
    size_t takenLength = 0;
    for (uint32_t i = current.placeStart[place]; i < current.placeStart[place + 1]; ++i) {
        uint32_t item = current.order[i];
        size_t length = 0;
        const wchar_t* path = ItemPath(current, item, &length);
        if (taken != nullptr && IsAtOrBelow(path, length, taken, takenLength) &&
            (current.items[item].kind == ItemKind::Value || length > takenLength))
            continue;
        taken = nullptr;
        if (current.items[item].state != ItemState::Same && handle(context, place, item) &&
            current.items[item].kind != ItemKind::Value && current.items[item].kind != ItemKind::File) {
            taken = path;
            takenLength = length;
        }
    }
}

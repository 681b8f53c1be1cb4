#include "foundation/StringList.h"

#include <new>

namespace {

template <typename C>
void AppendAny(StringList& list, const C* text)
{
    zqWString* entry = new (std::nothrow) zqWString;
    if (entry != nullptr && !entry->Assign(text)) {
        delete entry;
        return;
    }
    list.AppendOwned(entry);
}

}  // namespace

void AppendEntry(StringList& list, const char* text) { AppendAny(list, text); }
void AppendEntry(StringList& list, const wchar_t* text) { AppendAny(list, text); }

void AppendUnique(StringList& list, TextIndex& index, const wchar_t* text)
{
    if (TextIndexContains(index, text))
        return;
    int count = list.count;
    AppendEntry(list, text);
    if (list.count > count)
        TextIndexAdd(index, list.At(count)->Get());
}

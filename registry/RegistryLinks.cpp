#include "registry/RegistryLinks.h"

#include <wchar.h>

#include <utility>

#include "foundation/FillToFit.h"
#include "foundation/Handles.h"

namespace {

const wchar_t kLinkValue[] = L"SymbolicLinkValue";
// More hops than any real chain of links takes: beyond it the links go round.
const int kMostLinks = 16;

typedef LONG(WINAPI* NtDeleteKeyFn)(HANDLE key);
typedef ULONG(WINAPI* RtlNtStatusToDosErrorFn)(LONG status);

// The root of a link's target, from its native name ("\Registry\Machine\SOFTWARE\...").
HKEY NativeRoot(const wchar_t* name, const wchar_t** rest)
{
    static const struct {
        const wchar_t* prefix;
        HKEY root;
    } roots[] = {{L"\\Registry\\Machine\\", HKEY_LOCAL_MACHINE}, {L"\\Registry\\User\\", HKEY_USERS}};
    for (const auto& entry : roots) {
        size_t length = wcslen(entry.prefix);
        if (_wcsnicmp(name, entry.prefix, length) == 0) {
            *rest = name + length;
            return entry.root;
        }
    }
    return nullptr;
}

}  // namespace

LONG OpenKeyAsItIs(HKEY parent, const wchar_t* name, REGSAM access, HKEY* key)
{
    return RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, key);
}

bool IsLinkKey(HKEY key)
{
    DWORD type = 0;
    return RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS && type == REG_LINK;
}

bool LinkTarget(HKEY link, HKEY* root, zqWString* path)
{
    DWORD type = REG_LINK;
    zqWString name;
    Result read = FillToFit(
        &name,
        [&](wchar_t* buffer, DWORD room) {
            DWORD bytes = room * sizeof(wchar_t);
            LONG status = RegQueryValueExW(link, kLinkValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
            if (status == ERROR_MORE_DATA)
                return Filled{static_cast<DWORD>(bytes / sizeof(wchar_t)) + 1, ERROR_SUCCESS};
            DWORD units = static_cast<DWORD>(bytes / sizeof(wchar_t));
            return Filled{units < room ? units : units + 1, static_cast<DWORD>(status)};
        },
        128);
    if (!read.ok || type != REG_LINK)
        return false;
    const wchar_t* rest = nullptr;
    *root = NativeRoot(name.buffer, &rest);
    return *root != nullptr && path->Assign(rest);
}

LONG DeleteOpenKey(HKEY key)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    NtDeleteKeyFn deleteKey =
        reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDeleteKey")));
    RtlNtStatusToDosErrorFn toError = reinterpret_cast<RtlNtStatusToDosErrorFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    if (deleteKey == nullptr || toError == nullptr)
        return ERROR_PROC_NOT_FOUND;
    LONG status = deleteKey(key);
    return status == 0 ? ERROR_SUCCESS : static_cast<LONG>(toError(status));
}

bool ReachKey(HKEY root, const wchar_t* path, KeyReach* reach, const LinkVisitor& visitor, REGSAM view)
{
    zqWString rest, walked, moved;
    if (!rest.Assign(path != nullptr ? path : L"") || !walked.Assign(L""))
        return false;
    reach->links = 0;
    RegKey current;
    HKEY at = root;
    // A link names its key by its native name, which no view redirects: once one is followed, the
    // walk goes on in the native view (a 32-bit process would otherwise be sent round the 32-bit
    // view's links for ever).
    // Each round takes one part off the front of rest.
    while (rest.length > 0) {
        const wchar_t* text = rest.Get();
        size_t skip = wcsspn(text, L"\\");
        size_t length = wcscspn(text + skip, L"\\");
        if (length == 0)
            break;
        zqWString part;
        if (!FormatInto(part, L"%.*s", static_cast<int>(length), text + skip))
            return false;
        RegKey next;
        LONG result = OpenKeyAsItIs(at, part.Get(), KEY_QUERY_VALUE | view, next.Put());
        if (result == ERROR_FILE_NOT_FOUND)
            break;
        if (result != ERROR_SUCCESS)
            return false;
        if (!FormatInto(moved, walked.length > 0 ? L"%s\\%s" : L"%s%s", walked.Get(), part.Get()) ||
            !walked.Assign(moved.Get()) || !moved.Assign(text + skip + length) || !rest.Assign(moved.Get()))
            return false;
        if (!IsLinkKey(next.Get())) {
            current = std::move(next);
            at = current.Get();
            continue;
        }
        if (++reach->links > kMostLinks)
            return false;
        if (visitor.Visit != nullptr)
            visitor.Visit(root, walked.Get(), visitor.context);
        // The walk starts again at the root the link names, with what is left behind it.
        zqWString target;
        if (!LinkTarget(next.Get(), &root, &target) ||
            !FormatInto(moved, L"%s%s", target.Get(), rest.Get()) || !rest.Assign(moved.Get()) || !walked.Assign(L""))
            return false;
        current.Close();
        at = root;
        view = KEY_WOW64_64KEY;
    }
    reach->root = root;
    const wchar_t* left = rest.Get() + wcsspn(rest.Get(), L"\\");
    return FormatInto(reach->path, walked.length > 0 && left[0] != 0 ? L"%s\\%s" : L"%s%s", walked.Get(), left);
}

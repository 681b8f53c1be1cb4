#include "platform/Security.h"

#include <sddl.h>
#include <aclapi.h>

#include "foundation/zqString.h"
#include "platform/Paths.h"

namespace {

// What lets a holder change a file or folder, or what it holds, or who may.
const DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                            FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// The system account, the administrators, and the account the run itself works as (the system
// account on Windows; under a compatibility layer whatever account stands in for it).
bool IsTrusted(PSID sid, PSID self)
{
    return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
           (self != nullptr && EqualSid(sid, self));
}

}  // namespace

Result MakeOwnSecurity(OwnSecurity* security)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return LastFailure();
    security->descriptor.Reset(descriptor);
    security->attributes.nLength = sizeof security->attributes;
    security->attributes.lpSecurityDescriptor = descriptor;
    security->attributes.bInheritHandle = FALSE;
    return Succeeded();
}

bool OthersMayChange(const wchar_t* path)
{
    zqWString extended;
    if (!ExtendedPath(path, &extended))
        return true;
    // The object itself, never what a link at its name leads to.
    FileHandle object(CreateFileW(extended.Get(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!object.Valid() || GetSecurityInfo(object.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                           &owner, nullptr, &dacl, nullptr, &raw) != ERROR_SUCCESS)
        return true;
    LocalBlock descriptor(raw);
    KernelHandle token;
    BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    PSID self = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()) &&
        GetTokenInformation(token.Get(), TokenUser, user, sizeof user, &size))
        self = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    // Without an access list everyone may do everything; the owner may always change it.
    if (dacl == nullptr || owner == nullptr || !IsTrusted(owner, self))
        return true;
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
            return true;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;  // it takes away, or it is only handed down to what is made inside
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return true;  // a kind of grant not told apart here
        ACCESS_ALLOWED_ACE* grant = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if ((grant->Mask & kChangeRights) != 0 && !IsTrusted(&grant->SidStart, self))
            return true;
    }
    return false;
}

#include "platform/Seal.h"

#include <windows.h>
#include <wincrypt.h>

#include "foundation/Handles.h"

namespace {

const size_t kBlock = 64, kDigest = 32;

struct CryptContext {
    HCRYPTPROV provider = 0;
    DWORD error = ERROR_SUCCESS;  // why there is no provider
    CryptContext()
    {
        if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
            error = GetLastError();
    }
    ~CryptContext()
    {
        if (provider != 0)
            CryptReleaseContext(provider, 0);
    }
    CryptContext(const CryptContext&) = delete;
    CryptContext& operator=(const CryptContext&) = delete;
};

// SHA-256 of two pieces, one after the other.
bool Sha256(HCRYPTPROV provider, const void* first, size_t firstSize, const void* second, size_t secondSize,
            unsigned char digest[kDigest])
{
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash))
        return false;
    DWORD size = kDigest;
    bool done = CryptHashData(hash, static_cast<const BYTE*>(first), static_cast<DWORD>(firstSize), 0) &&
                CryptHashData(hash, static_cast<const BYTE*>(second), static_cast<DWORD>(secondSize), 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == kDigest;
    CryptDestroyHash(hash);
    return done;
}

}  // namespace

Result MakeSealKey(SealKey* key, std::string* wrapped)
{
    CryptContext context;
    if (context.provider == 0)
        return FailedBy(context.error);
    if (!CryptGenRandom(context.provider, sizeof key->bytes, key->bytes))
        return LastFailure();
    DATA_BLOB plain = {sizeof key->bytes, key->bytes}, sealed = {};
    if (!CryptProtectData(&plain, L"zqclean backup seal", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &sealed))
        return LastFailure();
    LocalBlock owned(sealed.pbData);
    wrapped->assign(reinterpret_cast<const char*>(sealed.pbData), sealed.cbData);
    key->ready = true;
    return Succeeded();
}

bool UnwrapSealKey(const std::string& wrapped, SealKey* key)
{
    DATA_BLOB sealed = {static_cast<DWORD>(wrapped.size()), reinterpret_cast<BYTE*>(const_cast<char*>(wrapped.data()))};
    DATA_BLOB plain = {};
    if (!CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain))
        return false;
    LocalBlock owned(plain.pbData);
    if (plain.cbData != sizeof key->bytes)
        return false;
    memcpy(key->bytes, plain.pbData, sizeof key->bytes);
    key->ready = true;
    return true;
}

std::string SealOf(const SealKey& key, const void* data, size_t size)
{
    CryptContext context;
    if (!key.ready || context.provider == 0)
        return std::string();
    // HMAC: the digest of the outer pad and the digest of the inner pad and the data.
    unsigned char inner[kBlock], outer[kBlock], digest[kDigest];
    for (size_t i = 0; i < kBlock; ++i) {
        unsigned char k = i < sizeof key.bytes ? key.bytes[i] : 0;
        inner[i] = static_cast<unsigned char>(k ^ 0x36);
        outer[i] = static_cast<unsigned char>(k ^ 0x5c);
    }
    if (!Sha256(context.provider, inner, kBlock, data, size, digest) ||
        !Sha256(context.provider, outer, kBlock, digest, kDigest, digest))
        return std::string();
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

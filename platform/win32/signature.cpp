// The signature check with CNG (bcrypt): SHA-256 of the message, then ECDSA P-256 over the
// hash, the key imported from its public point and the signature turned into r || s.

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/signature.h"

namespace platform {

namespace {

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

class Algorithm {
  public:
    explicit Algorithm(const wchar_t* name) {
        if (!succeeded(BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0))) {
            handle_ = nullptr;
        }
    }
    ~Algorithm() {
        if (handle_) {
            BCryptCloseAlgorithmProvider(handle_, 0);
        }
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

  private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

bool sha256(std::string_view message, unsigned char (&digest)[32]) {
    Algorithm algorithm(BCRYPT_SHA256_ALGORITHM);
    if (!algorithm.get()) {
        return false;
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!succeeded(BCryptCreateHash(algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    bool ok = true;
    // BCryptHashData takes at most 4 GiB a call.
    for (size_t at = 0; ok && at < message.size();) {
        const ULONG part = static_cast<ULONG>(std::min<size_t>(message.size() - at, 1u << 30));
        ok = succeeded(BCryptHashData(
            hash, reinterpret_cast<PUCHAR>(const_cast<char*>(message.data() + at)), part, 0));
        at += part;
    }
    ok = ok && succeeded(BCryptFinishHash(hash, digest, sizeof digest, 0));
    BCryptDestroyHash(hash);
    return ok;
}

}  // namespace

bool verifyP256Signature(std::string_view info, std::string_view message,
                         std::string_view derSignature) {
    std::optional<std::string> point = p256PublicPoint(info);
    std::optional<std::string> values = p256SignatureValues(derSignature);
    if (!point || !values) {
        return false;
    }
    unsigned char digest[32];
    if (!sha256(message, digest)) {
        return false;
    }
    Algorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm.get()) {
        return false;
    }
    // BCRYPT_ECCKEY_BLOB, then X and Y.
    std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = 32;
    std::copy(point->begin() + 1, point->end(), blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB));
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                       blob.data(), static_cast<ULONG>(blob.size()), 0))) {
        return false;
    }
    const NTSTATUS status = BCryptVerifySignature(key, nullptr, digest, sizeof digest,
                                                  reinterpret_cast<PUCHAR>(values->data()),
                                                  static_cast<ULONG>(values->size()), 0);
    BCryptDestroyKey(key);
    return succeeded(status);
}

}  // namespace platform

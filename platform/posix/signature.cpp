// The signature check with OpenSSL's libcrypto.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "platform/signature.h"

namespace platform {

bool verifyP256Signature(std::string_view info, std::string_view message,
                         std::string_view derSignature) {
    // Only a P-256 key and a well-formed signature get as far as the library.
    if (!p256PublicPoint(info) || !p256SignatureValues(derSignature)) {
        return false;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(info.data());
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        d2i_PUBKEY(nullptr, &in, static_cast<long>(info.size())), EVP_PKEY_free);
    if (!key) {
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(
               context.get(), reinterpret_cast<const unsigned char*>(derSignature.data()),
               derSignature.size(), reinterpret_cast<const unsigned char*>(message.data()),
               message.size()) == 1;
}

}  // namespace platform

#include "tools/racedata/update_signer.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <vector>

namespace racedata {

struct UpdateSigner::Key {
    EVP_PKEY* key = nullptr;
    ~Key() { EVP_PKEY_free(key); }
};

UpdateSigner::UpdateSigner(std::unique_ptr<Key> key) : key_(std::move(key)) {}
UpdateSigner::~UpdateSigner() = default;

std::unique_ptr<UpdateSigner> UpdateSigner::load(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot read the signing key " + path;
        return nullptr;
    }
    auto key = std::make_unique<Key>();
    key->key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (!key->key) {
        error = path + " holds no PEM private key";
        return nullptr;
    }
    char curve[64] = {0};
    size_t length = 0;
    if (EVP_PKEY_get_base_id(key->key) != EVP_PKEY_EC ||
        EVP_PKEY_get_utf8_string_param(key->key, "group", curve, sizeof curve, &length) != 1 ||
        OBJ_sn2nid(curve) != NID_X9_62_prime256v1) {
        error = path + " is not a P-256 (prime256v1) key";
        return nullptr;
    }
    return std::unique_ptr<UpdateSigner>(new UpdateSigner(std::move(key)));
}

std::string UpdateSigner::publicKeyBase64() const {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key_->key, &der);
    if (length <= 0) {
        return "";
    }
    std::vector<unsigned char> text(4 * ((static_cast<size_t>(length) + 2) / 3) + 1);
    const int written = EVP_EncodeBlock(text.data(), der, length);
    OPENSSL_free(der);
    return std::string(reinterpret_cast<const char*>(text.data()), static_cast<size_t>(written));
}

std::string UpdateSigner::sign(std::string_view bytes) const {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    size_t length = 0;
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_->key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
        return "";
    }
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
        return "";
    }
    signature.resize(length);
    return signature;
}

}  // namespace racedata

#include "tools/racedata/certificate.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace racedata {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

std::string sslError(const char* what) {
    char text[256] = "unknown error";
    unsigned long code = ERR_get_error();
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    return std::string(what) + ": " + text;
}

bool looksLikeAddress(const std::string& name) {
    return !name.empty() && (name.find(':') != std::string::npos ||
                             name.find_first_not_of("0123456789.") == std::string::npos);
}

bool addExtension(X509* cert, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

// Written beside the target and renamed into place, so a crash never leaves half a file.
std::string writePem(const std::string& path, bool secret, int (*write)(FILE*, void*),
                     void* object) {
    std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        return "cannot write " + temporary;
    }
    std::error_code ignored;
    if (secret) {
        std::filesystem::permissions(
            temporary, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
            ignored);
    }
    bool written = write(file, object) == 1;
    written = (std::fclose(file) == 0) && written;
    std::error_code error;
    if (written) {
        std::filesystem::rename(temporary, path, error);
    }
    if (!written || error) {
        std::filesystem::remove(temporary, ignored);
        return "cannot write " + path;
    }
    return "";
}

int writeKey(FILE* file, void* key) {
    return PEM_write_PrivateKey(file, static_cast<EVP_PKEY*>(key), nullptr, nullptr, 0, nullptr,
                                nullptr);
}

int writeCertificate(FILE* file, void* cert) {
    return PEM_write_X509(file, static_cast<X509*>(cert));
}

}  // namespace

std::string makeSelfSignedCertificate(const std::string& certificatePath,
                                      const std::string& keyPath,
                                      const std::vector<std::string>& extraNames) {
    Key key(EVP_EC_gen("P-256"));
    if (!key) {
        return sslError("cannot make a key");
    }
    Certificate cert(X509_new());
    if (!cert) {
        return sslError("cannot make a certificate");
    }
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) {
        return sslError("no random serial number");
    }
    serial[0] &= 0x7f;  // a positive serial number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    ASN1_INTEGER* asn1Serial = number ? BN_to_ASN1_INTEGER(number, nullptr) : nullptr;
    BN_free(number);
    if (!asn1Serial) {
        return sslError("no serial number");
    }
    X509_set_serialNumber(cert.get(), asn1Serial);
    ASN1_INTEGER_free(asn1Serial);
    X509_set_version(cert.get(), 2);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60L * 60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 60 * 60);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Brenvik Korvane"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Race-data service"), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);

    std::string alternativeNames = "DNS:localhost,IP:127.0.0.1,IP:::1";
    for (const std::string& extra : extraNames) {
        if (extra.empty() || extra.find(',') != std::string::npos) {
            continue;
        }
        alternativeNames += (looksLikeAddress(extra) ? ",IP:" : ",DNS:") + extra;
    }
    // A leaf: trusted by a client, it vouches for this service's names and nothing else; it
    // cannot sign a certificate for another site.
    if (!addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(cert.get(), NID_key_usage, "critical,digitalSignature") ||
        !addExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
        !addExtension(cert.get(), NID_subject_key_identifier, "hash") ||
        !addExtension(cert.get(), NID_subject_alt_name, alternativeNames)) {
        return sslError("cannot describe the certificate");
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        return sslError("cannot sign the certificate");
    }
    std::string error = writePem(keyPath, true, writeKey, key.get());
    if (error.empty()) {
        error = writePem(certificatePath, false, writeCertificate, cert.get());
    }
    return error;
}

bool certificateCanSignOthers(const std::string& certificatePath) {
    FILE* file = std::fopen(certificatePath.c_str(), "rb");
    if (!file) {
        return false;
    }
    Certificate cert(PEM_read_X509(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    if (!cert) {
        return false;
    }
    // X509_check_ca is 0 only for a certificate that can never act as an authority.
    if (X509_check_ca(cert.get()) == 0) {
        return false;
    }
    return X509_get_ext_by_NID(cert.get(), NID_name_constraints, -1) < 0;
}

}  // namespace racedata

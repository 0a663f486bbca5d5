#pragma once
// Checks that a file comes from whoever holds an update key: ECDSA P-256 over SHA-256, the
// signature as DER (what `openssl dgst -sha256 -sign KEY` writes), the public key as a DER
// SubjectPublicKeyInfo (what `openssl pkey -pubout` prints in base64 between its PEM lines).
// OpenSSL's libcrypto on Linux, CNG (bcrypt) on Windows.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The bytes of standard base64 text (blanks and line breaks between the characters are
// skipped); nothing when it is not base64.
std::optional<std::string> decodeBase64(std::string_view text);

// The 65-byte uncompressed point (0x04, X, Y) of a DER SubjectPublicKeyInfo that holds a P-256
// ECDSA key and nothing else; nothing for any other key or malformed DER.
std::optional<std::string> p256PublicPoint(std::string_view subjectPublicKeyInfo);

// The 64-byte r || s of a DER ECDSA-Sig-Value for a P-256 key; nothing when it is malformed.
std::optional<std::string> p256SignatureValues(std::string_view derSignature);

// True only when `derSignature` is a valid signature of exactly `message` by the P-256 key
// `subjectPublicKeyInfo` (DER). Any malformed input is simply false.
bool verifyP256Signature(std::string_view subjectPublicKeyInfo, std::string_view message,
                         std::string_view derSignature);

}  // namespace platform

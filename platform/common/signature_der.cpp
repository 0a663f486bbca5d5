// The parts of the signature check both systems share: base64 and the two DER forms, read
// strictly so that nothing but a P-256 key and a well-formed signature ever reaches the
// system's verifier.

#include <cstdint>
#include <cstring>

#include "platform/signature.h"

namespace platform {

namespace {

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// DER SubjectPublicKeyInfo of a P-256 key up to its point: SEQUENCE { SEQUENCE {
// id-ecPublicKey, prime256v1 }, BIT STRING (66 bytes, no unused bits) }.
constexpr unsigned char kP256InfoPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
constexpr size_t kPointBytes = 65;
constexpr size_t kCoordinateBytes = 32;

// One DER INTEGER of at most 32 significant bytes, positive, minimally encoded, written
// right-aligned into `out`. Advances `at`.
bool readCoordinate(std::string_view der, size_t& at, unsigned char* out) {
    if (at + 2 > der.size() || static_cast<unsigned char>(der[at]) != 0x02) {
        return false;
    }
    size_t length = static_cast<unsigned char>(der[at + 1]);
    at += 2;
    if (length == 0 || length > kCoordinateBytes + 1 || at + length > der.size()) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data() + at);
    if (bytes[0] & 0x80) {
        return false;  // negative
    }
    if (length > 1 && bytes[0] == 0 && !(bytes[1] & 0x80)) {
        return false;  // not minimal
    }
    size_t skip = 0;
    if (length == kCoordinateBytes + 1) {
        if (bytes[0] != 0) {
            return false;  // wider than the curve
        }
        skip = 1;
    }
    std::memset(out, 0, kCoordinateBytes);
    std::memcpy(out + kCoordinateBytes - (length - skip), bytes + skip, length - skip);
    at += length;
    return true;
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    std::string bytes;
    uint32_t buffer = 0;
    int bits = 0;
    int padding = 0;
    size_t symbols = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        }
        if (c == '=') {
            ++padding;
            ++symbols;
            continue;
        }
        const int value = base64Value(c);
        if (value < 0 || padding > 0) {
            return std::nullopt;  // a stray character, or data after the padding
        }
        ++symbols;
        buffer = (buffer << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xff));
        }
    }
    if (symbols == 0 || symbols % 4 != 0 || padding > 2 || bits >= 6 ||
        (buffer & ((1u << bits) - 1)) != 0) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> p256PublicPoint(std::string_view info) {
    if (info.size() != sizeof kP256InfoPrefix + kPointBytes ||
        std::memcmp(info.data(), kP256InfoPrefix, sizeof kP256InfoPrefix) != 0 ||
        info[sizeof kP256InfoPrefix] != 0x04) {
        return std::nullopt;
    }
    return std::string(info.substr(sizeof kP256InfoPrefix));
}

std::optional<std::string> p256SignatureValues(std::string_view der) {
    // SEQUENCE { INTEGER r, INTEGER s }: always under 128 bytes, so a one-byte length.
    if (der.size() < 8 || static_cast<unsigned char>(der[0]) != 0x30 ||
        static_cast<unsigned char>(der[1]) != der.size() - 2) {
        return std::nullopt;
    }
    unsigned char values[2 * kCoordinateBytes];
    size_t at = 2;
    if (!readCoordinate(der, at, values) || !readCoordinate(der, at, values + kCoordinateBytes) ||
        at != der.size()) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(values), sizeof values);
}

}  // namespace platform

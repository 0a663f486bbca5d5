#pragma once
// Signs the update files the service hands out, so that launchers holding the public key
// install only what the key's owner published: ECDSA P-256 over SHA-256, DER signatures.

#include <memory>
#include <string>
#include <string_view>

namespace racedata {

class UpdateSigner {
  public:
    // The P-256 private key in the PEM file at `path`; nullptr and `error` set when it cannot
    // be read or is another kind of key.
    static std::unique_ptr<UpdateSigner> load(const std::string& path, std::string& error);
    ~UpdateSigner();
    UpdateSigner(const UpdateSigner&) = delete;
    UpdateSigner& operator=(const UpdateSigner&) = delete;

    // The public key as the launcher's "UpdateKey" setting takes it: the base64 of its DER
    // SubjectPublicKeyInfo on one line.
    std::string publicKeyBase64() const;
    // The DER signature of `bytes`; "" when signing failed. Safe from several threads.
    std::string sign(std::string_view bytes) const;

  private:
    struct Key;
    explicit UpdateSigner(std::unique_ptr<Key> key);
    std::unique_ptr<Key> key_;
};

}  // namespace racedata

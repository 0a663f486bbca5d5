#pragma once
// A self-signed certificate for a service that was given none.

#include <string>
#include <vector>

namespace racedata {

// Writes a new P-256 key and a self-signed leaf certificate (not an authority, server
// authentication only; ten years, valid for "localhost",
// 127.0.0.1, ::1 and every name in `extraNames`: host names or IP addresses). The key file is
// readable by its owner only. Returns "" on success, else the reason.
std::string makeSelfSignedCertificate(const std::string& certificatePath,
                                      const std::string& keyPath,
                                      const std::vector<std::string>& extraNames);

// True when the certificate at `certificatePath` could sign certificates for any name (an
// authority without name constraints), as the ones made by earlier versions could.
bool certificateCanSignOthers(const std::string& certificatePath);

}  // namespace racedata

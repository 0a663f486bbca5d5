// The launcher against a real race-data service on 127.0.0.1 through the machine's own HTTP
// client, the way a driver's launcher meets the maker's service. The service publishes
// Launcher 3.015 and Plugin 3.014; each test lays out the working directory and the service's
// files folder it needs. The service is started by with-racedata-service.sh (which says where
// through KORVANE_RACEDATA_* variables) or, in the Linux build, inside this process.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "support/launcher_fixture.h"
#include "support/racedata_fixture.h"

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

namespace launchertest {
namespace {

namespace fs = std::filesystem;

const testsupport::RaceDataServiceInfo* service() {
    return testsupport::raceDataService();
}

#ifdef _WIN32
// WinHTTP trusts the system's certificate stores only: for the run, the service's certificate
// goes into a root store, as a driver puts it there ("certutil -addstore Root racedata.crt"),
// and comes out again at the end.
class TrustedServiceCertificate : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!service() || !service()->secure) {
            return;
        }
        std::ifstream in(testsupport::hostPath(service()->certificate), std::ios::binary);
        const std::string pem((std::istreambuf_iterator<char>(in)), {});
        DWORD size = 0;
        ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                                         nullptr, nullptr))
            << "no certificate at " << service()->certificate;
        std::vector<BYTE> der(size);
        CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                             nullptr);
        // Wine's chain engine reads the machine's root store, not the user's; on Windows the
        // machine's store wants an administrator, and the user's is taken then.
        store_ =
            CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (!store_) {
            store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                   L"Root");
        }
        ASSERT_NE(store_, nullptr);
        ASSERT_TRUE(CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), size,
                                                     CERT_STORE_ADD_REPLACE_EXISTING, &added_));
        // Written through to where the chain engine of this process will read it.
        CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    void TearDown() override {
        if (added_) {
            CertDeleteCertificateFromStore(added_);  // also frees the context
            CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
        if (store_) {
            CertCloseStore(store_, 0);
        }
    }

  private:
    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT added_ = nullptr;
};
#endif

const bool registered = [] {
    testsupport::registerRaceDataService(
        "korvane_launcher_service",
        {{launcher::kLauncherPlatform, "3.015"}, {launcher::kPluginPlatform, "3.014"}});
#ifdef _WIN32
    ::testing::AddGlobalTestEnvironment(new TrustedServiceCertificate);
#endif
    return true;
}();

class LauncherService : public LauncherTest {
  protected:
    void SetUp() override {
        ASSERT_NE(service(), nullptr);
        LauncherTest::SetUp();
#ifdef _WIN32
        // Wine's WinHTTP matches a host only against the certificate's DNS names, never its
        // addresses; "localhost" is one of them.
        const char* host = service()->secure ? "localhost" : "127.0.0.1";
#else
        const char* host = "127.0.0.1";
#endif
        std::string settings = std::string("[Service]\nHost=") + host +
                               "\nPort=" + std::to_string(service()->port) +
                               "\nSecure=" + (service()->secure ? "1" : "0") + "\n";
        if (!service()->certificate.empty()) {
            settings += "CACertificate=" + service()->certificate + "\n";
        }
        writeFile("Qm_Korvane_Launcher.ini", settings);
    }

    static void publishFile(const std::string& name, const std::string& bytes) {
        writeFile((fs::path(service()->files) / name).string(), bytes);
    }
};

TEST_F(LauncherService, NewerLauncherIsFetchedAndAsksForARestartWithoutStartingThePlugin) {
    const std::string oldLauncher = executableImage(30000, 1);
    const std::string newLauncher = executableImage(40000, 2);
    writeFile(launcher::kLauncherExecutable, oldLauncher);
    writeFile("Qm_Korvane_Launcher.ver", "3.014\n");
    publishFile("Qm_Korvane_Launcher.ver", "3.015\n");
    publishFile(launcher::kLauncherServerBinary, newLauncher);
    publishFile("Qm_Korvane_README.txt", "read me\n");

    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(readFile(launcher::kLauncherExecutable) == newLauncher);
    EXPECT_TRUE(readFile("Qm_Korvane_Cache.dat") == oldLauncher);
    EXPECT_EQ(readFile("Qm_Korvane_Launcher.ver"), "3.015\n");
    EXPECT_EQ(readFile("Qm_Korvane_README.txt"), "read me\n");
    EXPECT_TRUE(recorded().commands.empty());
    EXPECT_TRUE(contains(recorded().console,
                         "\n Launcher Requires Restart. Please allow the Launcher to restart. \n"
                         "\n Any key to Close.\n ..Closing.."));
    const char* expected[] = {"Starting Up.",
                              "Remove Qm_Korvane_Cache.dat failed. ",
                              "Version Check Remote: 3.015 (Launcher)",
                              "Version Check Local : 3.014 (Launcher)",
                              "Fetching Updates for Launcher...",
                              "Updated Cache ok.",
                              "Launcher Requires Restart."};
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), std::size(expected));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(contains(lines[i], std::string(" :  ") + expected[i])) << lines[i];
    }
}

}  // namespace
}  // namespace launchertest

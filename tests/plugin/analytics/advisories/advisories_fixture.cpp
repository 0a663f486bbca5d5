#include "advisories_fixture.h"

#include <fstream>
#include <sstream>

#include "common/log_writer.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/test_folder.h"

namespace advisories {

void RecordingVoice::speak(const std::wstring& text, bool background) {
    std::string s = background ? "later: " : "";
    for (wchar_t c : text) {
        s += c < 128 ? static_cast<char>(c) : '?';
    }
    std::lock_guard<std::mutex> lock(mutex_);
    said_.push_back(s);
}

std::vector<std::string> RecordingVoice::said() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return said_;
}

void RecordingVoice::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    said_.clear();
}

void AdvisoryTest::SetUp() {
    dir_ = testsupport::freshTestFolder("korvane_advisories");
    common::PluginLog().setPath((dir_ / "Qm_Korvane_Plugin.log").string());
    engineer::ResetRaceState();
    audio::setVoiceSink(&voice_);
    sim_.setSessionText(testsupport::sampleSessionText());
    sim_.attach(telemetry::Telemetry());
    sim_.setConnected(true);
    sim_.setInt("PlayerCarIdx", 1);
    ASSERT_TRUE(sim_.deliver(telemetry::Telemetry()));
}

void AdvisoryTest::TearDown() {
    telemetry::Telemetry().replaceConnection(nullptr);
    audio::setVoiceSink(nullptr);
    engineer::ResetRaceState();
    common::PluginLog().setPath("");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void AdvisoryTest::publish() {
    ASSERT_TRUE(sim_.deliver(telemetry::Telemetry()));
}

void AdvisoryTest::useSessionText(const std::string& text) {
    sim_.setSessionText(text);
    publish();
}

std::vector<std::string> AdvisoryTest::logMessages() const {
    std::ifstream in(dir_ / "Qm_Korvane_Plugin.log");
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find(" :  ");
        out.push_back(at == std::string::npos ? line : line.substr(at + 4));
    }
    return out;
}

void AdvisoryTest::clearLog() {
    std::filesystem::remove(dir_ / "Qm_Korvane_Plugin.log");
}

std::string withValue(std::string text, const std::string& key, const std::string& value) {
    const std::string needle = " " + key + ": ";
    const size_t at = text.find(needle);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << key << " in the session text";
        return text;
    }
    const size_t start = at + needle.size();
    const size_t end = text.find('\n', start);
    text.replace(start, end - start, value);
    return text;
}

}  // namespace advisories

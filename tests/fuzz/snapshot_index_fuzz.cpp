// The session-text index that the snapshot refresh reads through, on any text: every answer it
// gives, fresh or remembered, must be the plain scan's answer on the same bytes. The text is
// then rewritten in place without a new update counter, as a careless publisher would, and
// every answer compared again. Checked twice over: on SessionTextIndex itself over exactly the
// input's bytes, and through SessionQueryPass and querySessionValue on a simulator block,
// against the same queries made outside a pass.
//
// Input: a flags byte (bit 0: a NUL follows the text), the car index and the session number
// the per-car and per-session paths are built with, a count (0-3) of extra paths each ended
// by a NUL, a count (0-4) of rewrites each of a 16-bit offset, a length byte (1-4) and that
// many bytes, then the text.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/fake_simulator.h"
#include "support/virtual_clock.h"

namespace {

struct Rewrite {
    size_t offset = 0;
    std::string bytes;
};

struct Case {
    bool terminated = false;
    std::vector<std::string> paths;
    std::vector<Rewrite> rewrites;
    std::string text;
};

// What the snapshot refresh, the join log line and the advisories ask for, with the car and
// session numbers the input chose.
std::vector<std::string> pluginPaths(int carIdx, int sessionNum) {
    auto with = [](const char* format, int n) {
        char path[telemetry::kQueryBufferSize];
        std::snprintf(path, sizeof path, format, n);
        return std::string(path);
    };
    return {
        "DriverInfo:DriverUserID:",
        "DriverInfo:DriverCarSLShiftRPM:",
        "WeekendInfo:SubSessionID:",
        "WeekendInfo:TrackID:",
        with("DriverInfo:Drivers:CarIdx:{%d}CarID:", carIdx),
        "WeekendInfo:TrackAirTemp:",
        "WeekendInfo:TrackSurfaceTemp:",
        "WeekendInfo:TrackLength:",
        "DriverInfo:DriverPitTrkPct:",
        "DriverInfo:DriverCarFuelMaxLtr:",
        with("DriverInfo:Drivers:CarIdx:{%d}CarClassMaxFuelPct:", carIdx),
        with("SessionInfo:Sessions:SessionNum:{%d}SessionName:", sessionNum),
        "WeekendInfo:TrackDisplayName:",
        with("DriverInfo:Drivers:CarIdx:{%d}CarScreenName:", carIdx),
        "SessionInfo:Sessions:SessionNum:{2}SessionLaps:",
        "SessionInfo:Sessions:SessionNum:{2}SessionTime:",
        "CarSetup:Tires:RightFront:StartingPressure:",
        "WeekendInfo:TrackPitSpeedLimit:",
    };
}

Case decode(const uint8_t* data, size_t size) {
    fuzzing::Input in(data, size);
    Case c;
    c.terminated = (in.byte() & 1) != 0;
    const int carIdx = in.byte() % 66;
    const int sessionNum = in.byte() % 5;
    c.paths = pluginPaths(carIdx, sessionNum);
    for (int n = in.byte() % 4; n > 0; --n) {
        c.paths.push_back(in.until('\0'));
    }
    for (int n = in.byte() % 5; n > 0; --n) {
        Rewrite r;
        r.offset = in.value<uint16_t>();
        for (int k = in.byte() % 4 + 1; k > 0; --k) {
            r.bytes += static_cast<char>(in.byte());
        }
        c.rewrites.push_back(r);
    }
    c.text = in.rest();
    return c;
}

// What a scan answered, comparable between the index's copy of the text and the text itself.
std::string describe(bool found, const char* text, const char* value, int length) {
    return found ? "offset " + std::to_string(value - text) + " \"" +
                       std::string(value, static_cast<size_t>(length)) + "\""
                 : "not found";
}

std::string where(const std::string& path, int round) {
    return "path \"" + path + "\" after " + std::to_string(round) + " rewrites";
}

// The index over exactly the buffer's bytes: a text with no NUL ends at the limit. Each path
// is asked twice: once scanned into the index, once answered from what it remembers.
void checkIndex(telemetry::SessionTextIndex& index, const std::vector<char>& buffer,
                const std::vector<std::string>& paths, int round) {
    static const char empty = 0;
    const char* text = buffer.empty() ? &empty : buffer.data();
    fuzzing::check(index.sync(text, buffer.size()), "the index refused a text");
    for (int ask = 0; ask < 2; ++ask) {
        for (const std::string& path : paths) {
            const char* plainStart = nullptr;
            int plainLength = 0;
            const bool plainFound = telemetry::findSessionValue(text, buffer.size(), path.c_str(),
                                                                &plainStart, &plainLength);
            const char* start = nullptr;
            int length = 0;
            const bool found = index.find(path.c_str(), &start, &length);
            const std::string want = describe(plainFound, text, plainStart, plainLength);
            const std::string got = describe(found, index.copyStart(), start, length);
            if (want != got) {  // the message only on a failure: this runs for every path
                fuzzing::check(false,
                               ask == 0 ? "the index answered otherwise"
                                        : "the index remembered another answer",
                               where(path, round) + "\nplain scan: " + want + "\nindex: " + got);
            }
        }
    }
}

// The process-wide index as the refresh uses it: answers inside a pass against the same
// queries outside one, which scan the block.
class BlockCheck {
  public:
    BlockCheck() : sim_(testsupport::catalogueVarSpecs(), options()) {
        sim_.attach(client_);
        sim_.setConnected(true);
        sim_.setSessionText("");
        sim_.deliver(client_);
    }

    // Every input starts from an empty area and an empty process-wide index, so that what it
    // finds does not depend on the inputs before it.
    void reset() {
        sim_.setSessionText("");
        telemetry::setSessionQueryIndexEnabled(false);
        telemetry::setSessionQueryIndexEnabled(true);
    }

    void overwrite(const std::string& text, bool terminated) {
        sim_.overwriteSessionText(text.substr(0, capacity() - 1), terminated);
    }

    void check(const std::vector<std::string>& paths, int round) {
        fuzzing::check(client_.isTelemetryLive(), "the fake simulator is not live");
        std::vector<std::string> indexed;
        {
            telemetry::SessionQueryPass pass(client_);
            for (int ask = 0; ask < 2; ++ask) {
                for (const std::string& path : paths) {
                    indexed.push_back(answer(path));
                }
            }
        }
        for (size_t i = 0; i < paths.size(); ++i) {
            const std::string plain = answer(paths[i]);
            for (size_t at : {i, i + paths.size()}) {
                if (plain != indexed[at]) {
                    fuzzing::check(
                        false, "a query pass answered otherwise",
                        where(paths[i], round) + "\nplain: " + plain + "\npass: " + indexed[at]);
                }
            }
        }
    }

  private:
    static simblock::BlockOptions options() {
        simblock::BlockOptions o = testsupport::defaultFakeBlockOptions();
        o.sessionCapacity = 96 * 1024;
        return o;
    }
    size_t capacity() { return static_cast<size_t>(sim_.writer().layout().sessionCapacity); }

    std::string answer(const std::string& path) {
        std::strcpy(telemetry::QueryResult, "<untouched>");
        const int result = telemetry::querySessionValue(client_, path.c_str());
        return std::to_string(result) + " \"" + telemetry::QueryResult + "\"";
    }

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    testsupport::FakeSimulator sim_;
    telemetry::TelemetryClient client_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: the process-wide index and client outlive every input.
    static BlockCheck* block = new BlockCheck();
    static telemetry::SessionTextIndex index;

    Case c = decode(data, size);
    std::vector<char> buffer(c.text.begin(), c.text.end());
    if (c.terminated) {
        buffer.push_back('\0');
    }
    block->reset();
    index.clear();
    block->overwrite(c.text, c.terminated);
    for (size_t round = 0; round <= c.rewrites.size(); ++round) {
        if (round > 0 && !c.text.empty()) {
            // In the same buffer, so the index must notice by comparing, not by address.
            const Rewrite& r = c.rewrites[round - 1];
            for (size_t k = 0; k < r.bytes.size(); ++k) {
                c.text[(r.offset + k) % c.text.size()] = r.bytes[k];
            }
            std::copy(c.text.begin(), c.text.end(), buffer.begin());
            block->overwrite(c.text, c.terminated);
        }
        checkIndex(index, buffer, c.paths, static_cast<int>(round));
        block->check(c.paths, static_cast<int>(round));
    }
    return 0;
}

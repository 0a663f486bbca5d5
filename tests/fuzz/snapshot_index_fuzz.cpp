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
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
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

void printEscaped(std::string_view bytes) {
    for (char ch : bytes) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (ch == '\n') {
            std::fputs("\\n\n", stderr);
        } else if (ch == '\\') {
            std::fputs("\\\\", stderr);
        } else if (u < 0x20 || u >= 0x7f) {
            std::fprintf(stderr, "\\x%02x", u);
        } else {
            std::fputc(ch, stderr);
        }
    }
    std::fputc('\n', stderr);
}

[[noreturn]] void fail(const char* what, const std::string& path, const std::string& expected,
                       const std::string& got, int round, std::string_view text) {
    std::fprintf(stderr,
                 "snapshot_index_fuzz: %s after %d rewrites\npath \"%s\"\nplain scan: %s\n"
                 "index: %s\ntext (%zu bytes):\n",
                 what, round, path.c_str(), expected.c_str(), got.c_str(), text.size());
    printEscaped(text);
    std::abort();
}

std::string describe(bool found, size_t offset, const char* value, int length) {
    if (!found) {
        return "not found";
    }
    std::string out = "offset " + std::to_string(offset) + " length " + std::to_string(length);
    out += " \"" + std::string(value, static_cast<size_t>(length)) + "\"";
    return out;
}

// The index over exactly the buffer's bytes: a text with no NUL ends at the limit.
void checkIndex(telemetry::SessionTextIndex& index, const std::vector<char>& buffer,
                const std::vector<std::string>& paths, int round) {
    static const char empty = 0;
    const char* text = buffer.empty() ? &empty : buffer.data();
    const std::string_view shown(text, buffer.size());
    if (!index.sync(text, buffer.size())) {
        fail("the index refused a text", "", "", "", round, shown);
    }
    struct Plain {
        bool found = false;
        const char* start = nullptr;
        int length = 0;
    };
    std::vector<Plain> plain(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        plain[i].found = telemetry::findSessionValue(text, buffer.size(), paths[i].c_str(),
                                                     &plain[i].start, &plain[i].length);
    }
    // Each path twice: once scanned into the index, once answered from what it remembers.
    for (int ask = 0; ask < 2; ++ask) {
        for (size_t i = 0; i < paths.size(); ++i) {
            const std::string& path = paths[i];
            const bool plainFound = plain[i].found;
            const char* plainStart = plain[i].start;
            const int plainLength = plain[i].length;
            const char* start = nullptr;
            int length = 0;
            const bool found = index.find(path.c_str(), &start, &length);
            const size_t plainOffset = plainFound ? static_cast<size_t>(plainStart - text) : 0;
            const size_t offset = found ? static_cast<size_t>(start - index.copyStart()) : 0;
            if (found != plainFound || offset != plainOffset || length != plainLength ||
                (found && std::memcmp(start, plainStart, static_cast<size_t>(length)) != 0)) {
                fail(ask == 0 ? "the index answered otherwise"
                              : "the index remembered another answer",
                     path, describe(plainFound, plainOffset, plainStart, plainLength),
                     describe(found, offset, start, length), round, shown);
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
        written_ = text.substr(0, capacity() - 1);
        sim_.overwriteSessionText(written_, terminated);
    }

    void check(const std::vector<std::string>& paths, int round) {
        if (!client_.isTelemetryLive()) {
            fail("the fake simulator is not live", "", "", "", round, written_);
        }
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
                    fail("a query pass answered otherwise", paths[i], plain, indexed[at], round,
                         written_);
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
    std::string written_;
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

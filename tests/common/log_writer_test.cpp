#include "common/log_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/status_row.h"
#include "support/test_folder.h"
#include "support/virtual_clock.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path);  // text mode: a Windows CR LF reads as "\n"
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class LogWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::freshTestFolder("korvane_log");
        file_ = dir_ / "Qm_Korvane_Plugin.log";
        log_.setPath(file_.string());
    }
    void TearDown() override { fs::remove_all(dir_); }

    testsupport::VirtualClock clock_{1700000000};
    testsupport::ScopedClock useClock_{clock_};
    fs::path dir_;
    fs::path file_;
    common::LogWriter log_{"KV", "unused.log"};
};

TEST_F(LogWriterTest, LinesCarryTheStampAsUnsigned32BitSecondsAndTheMessageLiterally) {
    const std::string stamped = "KV: 1700000000 :  ";
    const struct {
        int64_t seconds;
        std::string message;
        bool formatted;  // through appendf("%s")
        std::string line;
    } cases[] = {
        {0, "LOG: x", false, "KV: 0 :  LOG: x\n"},
        {4294967295LL, "", true, "KV: 4294967295 :  \n"},
        // Past 2106 the stamp wraps as a 32-bit number does.
        {4294967296LL + 7, "SET: 100% %s %n %d", false, "KV: 7 :  SET: 100% %s %n %d\n"},
        // 255 characters at most, the line feed kept, whichever buffer cuts first.
        {1700000000, std::string(400, 'x'), false,
         stamped + std::string(255 - stamped.size() - 1, 'x') + "\n"},
        {1700000000, std::string(1000, 'y'), true,
         stamped + std::string(255 - stamped.size() - 1, 'y') + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        clock_.setCalendarTime(c.seconds);
        fs::remove(file_);
        if (c.formatted) {
            log_.appendf("%s", c.message.c_str());
        } else {
            log_.append(c.message.c_str());
        }
        EXPECT_EQ(readText(file_), c.line);
    }
}

TEST_F(LogWriterTest, StartTruncatesAndLaterLinesAppend) {
    {
        std::ofstream old(file_);
        for (int i = 0; i < 1000; ++i) {
            old << "a line of an earlier run\n";
        }
    }
    log_.start("Starting Up. ");
    clock_.advanceSeconds(5);
    log_.append("LOG: one");
    log_.append("Closing Down.");
    EXPECT_EQ(readText(file_),
              "KV: 1700000000 :  Starting Up. \n"
              "KV: 1700000005 :  LOG: one\n"
              "KV: 1700000005 :  Closing Down.\n");

    // A second run starts over.
    log_.start("Starting Up. ");
    EXPECT_EQ(readText(file_), "KV: 1700000005 :  Starting Up. \n");
}

// A log that cannot be opened or written loses its lines and says so once per path; once it can
// be written again, lines arrive.
TEST_F(LogWriterTest, AnUnwritableLogSaysSoOnceAndTheNextGoodPathGetsTheLines) {
    struct Case {
        const char* name;
        std::string path;
        const char* said;
    } cases[] = {
        {"in a folder that does not exist", (dir_ / "no_such_dir" / "x.log").string(),
         "cannot open the log file"},
        {"a folder in its place", (dir_ / "folder.log").string(), "cannot open the log file"},
        {"in a folder that is a file", (dir_ / "file" / "x.log").string(),
         "cannot open the log file"},
#ifndef _WIN32
        {"disk full", "/dev/full", "cannot write the log file"},
#endif
    };
    fs::create_directories(dir_ / "folder.log");
    std::ofstream(dir_ / "file") << "x";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log_.setPath(c.path);
        ::testing::internal::CaptureStderr();
        log_.start("Starting Up. ");
        for (int tick = 0; tick < 5; ++tick) {
            log_.appendf("LOG: Lap %d", tick);
        }
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.said), std::string::npos) << err;
        EXPECT_NE(err.find(c.path), std::string::npos) << err;
        EXPECT_EQ(err.find("KV:"), err.rfind("KV:")) << "reported more than once: " << err;

        log_.setPath(file_.string());
        ::testing::internal::CaptureStderr();
        log_.append("LOG: back");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_NE(readText(file_).find("LOG: back"), std::string::npos);
    }
}

}  // namespace

// The live status row: sixty rows a second reach a terminal ten times a second, each short
// enough for the carriage return to overwrite one line, the width asked again every second; a
// file or a pipe keeps every row.
int widthAsks = 0;
// A console of `columns` columns (1: its only column stays free; 0: not a terminal).
template <int columns>
int countedColumns() {
    ++widthAsks;
    return columns;
}

TEST(StatusRow, ATerminalGetsTenRowsASecondWithinItsWidth) {
    struct Case {
        int (*columns)();
        size_t rows;
        size_t longest;
        std::vector<int> asks;  // by the 20th and the 21st row
    };
    const std::string row(110, 'x');
    // 2.1 s: a row every 100 ms, the width asked at rows 0, 10 and 20.
    for (const Case& c :
         {Case{countedColumns<80>, 21, 79, {2, 3}}, Case{countedColumns<1>, 21, 0, {2, 3}},
          Case{countedColumns<0>, 126, 110, {1, 1}}}) {
        widthAsks = 0;
        std::vector<int> asks;
        testsupport::VirtualClock clock;
        testsupport::ScopedClock use(clock);
        common::SetConsoleColumnsSource(c.columns);
        ::testing::internal::CaptureStdout();
        for (int tick = 0; tick < 126; ++tick) {
            common::BeginStatusRows();
            common::RowPrintf("%s", row.substr(0, 50).c_str());
            common::RowPrintf("%s\r", row.substr(50).c_str());
            clock.advanceMs(tick % 3 == 2 ? 16 : 17);  // 60 Hz
            if (tick == 119 || tick == 125) {
                asks.push_back(widthAsks);
            }
        }
        const std::string out = ::testing::internal::GetCapturedStdout();
        common::SetConsoleColumnsSource(nullptr);
        std::vector<std::string> lines;
        std::stringstream in(out);
        for (std::string line; std::getline(in, line, '\r');) {
            lines.push_back(line);
        }
        EXPECT_EQ(lines.size(), c.rows);
        EXPECT_EQ(asks, c.asks);
        for (const std::string& line : lines) {
            EXPECT_EQ(line.size(), c.longest);
        }
    }
}

TEST(StatusRow, ARowLongerThanItsBufferIsCutNotOverrun) {
    testsupport::VirtualClock clock;
    testsupport::ScopedClock use(clock);
    common::SetConsoleColumnsSource(countedColumns<0>);
    ::testing::internal::CaptureStdout();
    common::BeginStatusRows();
    common::RowPrintf("%s", std::string(512, 'x').c_str());
    common::RowPrintf("\r");
    const std::string out = ::testing::internal::GetCapturedStdout();
    common::SetConsoleColumnsSource(nullptr);
    EXPECT_EQ(out, std::string(511, 'x') + "\r");
}

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/tools/simfeed/model_reader.h"
#include "tools/simfeed/ibt_file.h"
#include "tools/simfeed/replay.h"

namespace {

namespace fs = std::filesystem;

// Unique to this run, so two builds testing at once never share a file.
std::string tempPath(const std::string& name) {
    static const std::string run = std::to_string(std::random_device{}() % 1000000000u);
    return (fs::temp_directory_path() / ("korvane_simfeed_" + run + "_" + name)).string();
}

// Windows refuses to delete a file that is still open, so readers are closed first.
void removeFile(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

// A few seconds of the race as the feed would publish them.
struct Recording {
    std::vector<simblock::VarSpec> vars = simfeed::feedVariables();
    simblock::BlockLayout layout = simblock::computeLayout(vars);
    std::vector<telemetry::VarHeader> headers;
    std::vector<std::vector<uint8_t>> rows;
    std::string text;

    Recording() {
        for (size_t i = 0; i < vars.size(); ++i) {
            telemetry::VarHeader h{};
            h.type = vars[i].type;
            h.offset = layout.valueOffsets[i];
            h.count = vars[i].count;
            std::strncpy(h.name, vars[i].name.c_str(), sizeof h.name - 1);
            std::strncpy(h.desc, vars[i].desc.c_str(), sizeof h.desc - 1);
            std::strncpy(h.unit, vars[i].unit.c_str(), sizeof h.unit - 1);
            headers.push_back(h);
        }
        simfeed::RaceModel m(simfeedtest::shippedScenario("one_stop"));
        simfeed::RowWriter w(vars, layout);
        m.stepSeconds(40);
        for (int i = 0; i < 180; ++i) {
            m.step();
            std::vector<uint8_t> row(static_cast<size_t>(layout.bufferLength));
            w.attach(&row);
            simfeed::writeRow(m, w);
            rows.push_back(row);
        }
        text = m.sessionText();
    }

    std::string write(const std::string& name, const std::string& finalText) const {
        std::string path = tempPath(name);
        simfeed::IbtWriter out;
        std::string error;
        EXPECT_TRUE(out.open(path, headers, layout.bufferLength, text, 60, 1700000000, &error))
            << error;
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_TRUE(out.addRow(rows[i].data(), 40 + i / 60.0));
        }
        out.setSessionText(finalText);
        EXPECT_TRUE(out.close(&error)) << error;
        return path;
    }
};

TEST(IbtFile, RecordingReadsBackUnchanged) {
    Recording rec;
    std::string later = rec.text + "# results added later\n";
    std::string path = rec.write("roundtrip.ibt", later);
    auto in = std::make_unique<simfeed::IbtReader>();
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(in->open(path, &error, &warnings)) << error;
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(in->recordCount(), 180);
    EXPECT_EQ(in->tickRate(), 60);
    EXPECT_EQ(in->rowLength(), rec.layout.bufferLength);
    EXPECT_EQ(in->sessionText(), later) << "the text as it stood at the end";
    EXPECT_EQ(in->subHeader().sessionStartDate, 1700000000);
    EXPECT_DOUBLE_EQ(in->subHeader().sessionStartTime, 40.0);
    ASSERT_EQ(in->vars().size(), rec.headers.size());
    EXPECT_EQ(std::memcmp(in->vars().data(), rec.headers.data(),
                          rec.headers.size() * sizeof(telemetry::VarHeader)),
              0);
    std::vector<uint8_t> row;
    for (int i : {0, 1, 90, 179}) {
        ASSERT_TRUE(in->readRow(i, &row));
        EXPECT_EQ(row, rec.rows[static_cast<size_t>(i)]) << "row " << i;
    }
    EXPECT_FALSE(in->readRow(180, &row));
    EXPECT_FALSE(in->readRow(-1, &row));
    in.reset();
    removeFile(path);
}

TEST(IbtFile, ReplayMovesEveryValueIntoAnotherLayout) {
    Recording rec;
    // A recording packed differently from the live block: every value shifted by 8 bytes.
    std::vector<telemetry::VarHeader> shifted = rec.headers;
    for (telemetry::VarHeader& h : shifted) {
        h.offset += 8;
    }
    std::vector<uint8_t> fileRow(rec.rows[10].size() + 8, 0xee);
    std::memcpy(fileRow.data() + 8, rec.rows[10].data(), rec.rows[10].size());

    std::vector<simblock::VarSpec> specs = simfeed::replayVarSpecs(shifted);
    ASSERT_EQ(specs.size(), rec.vars.size());
    EXPECT_EQ(specs[5].name, rec.vars[5].name);
    EXPECT_EQ(specs[5].unit, rec.vars[5].unit);
    simblock::BlockLayout layout = simblock::computeLayout(specs);
    simfeed::ReplayMapper mapper(shifted, layout);
    EXPECT_FALSE(mapper.identical());
    std::vector<uint8_t> blockRow(static_cast<size_t>(layout.bufferLength));
    mapper.map(fileRow, blockRow);
    EXPECT_EQ(blockRow, rec.rows[10]);

    simfeed::ReplayMapper same(rec.headers, rec.layout);
    EXPECT_TRUE(same.identical());
}

TEST(IbtFile, RecordingCutShortReplaysTheRowsItHolds) {
    Recording rec;
    std::string path = rec.write("cut.ibt", rec.text);
    auto size = fs::file_size(path);
    // A writer that died: the count in the header was never written, and the last row is torn.
    {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        telemetry::DiskSubHeader sub{};
        f.seekg(sizeof(telemetry::BlockHeader));
        f.read(reinterpret_cast<char*>(&sub), sizeof sub);
        sub.sessionRecordCount = 0;
        f.seekp(sizeof(telemetry::BlockHeader));
        f.write(reinterpret_cast<const char*>(&sub), sizeof sub);
    }
    fs::resize_file(path, size - static_cast<uintmax_t>(rec.layout.bufferLength) / 2);
    auto in = std::make_unique<simfeed::IbtReader>();
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(in->open(path, &error, &warnings)) << error;
    EXPECT_EQ(in->recordCount(), 179);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("replaying those"), std::string::npos);
    std::vector<uint8_t> row;
    ASSERT_TRUE(in->readRow(178, &row));
    EXPECT_EQ(row, rec.rows[178]);
    in.reset();
    removeFile(path);
}

}  // namespace

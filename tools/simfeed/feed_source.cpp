#include "tools/simfeed/feed_source.h"

#include <cstdio>

#include "tools/simfeed/feed_row.h"

namespace simfeed {

namespace {

const char* surfaceWord(int s) {
    switch (s) {
        case kSurfaceOnTrack:
            return "track";
        case kSurfaceApproachingPits:
            return "pit road";
        case kSurfaceInPitStall:
            return "stall";
        case kSurfaceOffTrack:
            return "off track";
        default:
            return "garage";
    }
}

}  // namespace

void ModelSource::bind(const simblock::BlockLayout& layout) {
    writer_ = std::make_unique<RowWriter>(vars_, layout);
}

// The simulator's clock runs on after the last session: rows keep coming with the session
// over, so a reader that stays attached sees a live simulator, not one that fell silent.
bool ModelSource::advance() {
    model_.step();
    return true;
}

void ModelSource::fillRow(std::vector<uint8_t>& row) {
    writer_->attach(&row);
    writeRow(model_, *writer_);
    writer_->attach(nullptr);
}

std::string ModelSource::status() const {
    const RaceModel& m = model_;
    const CarState& p = m.playerCar();
    char laps[32];
    if (m.lapLimited()) {
        std::snprintf(laps, sizeof laps, "%d/%d", p.lap, m.session().laps);
    } else {
        std::snprintf(laps, sizeof laps, "%d", p.lap);
    }
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "S%d %-8s st %d  t %7.1f  lap %-6s P%-2d %-8s %5.1f l %3.0f km/h  svc 0x%02x",
                  m.sessionNum(), m.session().name.c_str(), m.sessionState(), m.sessionTime(), laps,
                  m.positions()[static_cast<size_t>(m.playerIdx())], surfaceWord(m.playerSurface()),
                  m.player().fuel, p.speed * 3.6, static_cast<unsigned>(m.player().serviceFlags));
    return buf;
}

ReplaySource::ReplaySource(std::unique_ptr<IbtReader> reader, bool loop)
    : reader_(std::move(reader)), loop_(loop) {}

void ReplaySource::bind(const simblock::BlockLayout& layout) {
    mapper_ = std::make_unique<ReplayMapper>(reader_->vars(), layout);
}

bool ReplaySource::advance() {
    if (done_) {
        return false;
    }
    if (next_ >= reader_->recordCount()) {
        if (!loop_) {
            done_ = true;
            return false;
        }
        next_ = 0;
    }
    if (!reader_->readRow(next_, &fileRow_)) {
        // A file cut short under us: stop at the last good row.
        readFailed_ = true;
        done_ = true;
        return false;
    }
    ++next_;
    return true;
}

void ReplaySource::fillRow(std::vector<uint8_t>& row) {
    if (!fileRow_.empty()) {
        mapper_->map(fileRow_, row);
    }
}

PitCommandOutcome ReplaySource::pitCommand(int32_t, int32_t) {
    return PitCommandOutcome{false, "replaying a recording: pit service not simulated"};
}

std::string ReplaySource::status() const {
    char buf[128];
    std::snprintf(buf, sizeof buf, "replay row %d of %d%s%s", next_, reader_->recordCount(),
                  loop_ ? " (looping)" : "", readFailed_ ? " - read error, stopped" : "");
    return buf;
}

}  // namespace simfeed

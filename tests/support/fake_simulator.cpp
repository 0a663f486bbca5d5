#include "tests/support/fake_simulator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/clock.h"

namespace testsupport {

using telemetry::kBitField;
using telemetry::kBool;
using telemetry::kDouble;
using telemetry::kFloat;
using telemetry::kInt;

std::vector<simblock::VarSpec> catalogueVarSpecs() {
    std::vector<simblock::VarSpec> v;
    auto add = [&v](int32_t type, std::initializer_list<const char*> names, int count = 1) {
        for (const char* name : names) {
            v.push_back({name, type, count});
        }
    };
    add(kDouble, {"SessionTime", "SessionTimeRemain"});
    add(kInt, {"SessionNum", "SessionState"});
    add(kBitField, {"SessionFlags"});
    add(kInt, {"SessionLapsRemainEx", "PlayerCarIdx", "PlayerCarPosition", "PlayerCarPitSvStatus",
               "PlayerTrackSurface"});
    add(kBool, {"PlayerCarInPitStall", "IsOnTrack"});
    add(kInt, {"Lap"});
    add(kFloat, {"LapDist", "Speed", "RPM", "Brake", "FuelLevel"});
    add(kBitField, {"EngineWarnings"});
    add(kFloat, {"AirTemp", "TrackTempCrew"});
    add(kBitField, {"PitSvFlags"});
    add(kFloat, {"PitSvLFP", "PitSvRFP", "PitSvLRP", "PitSvRRP", "PitSvFuel", "PitRepairLeft",
                 "PitOptRepairLeft"});
    add(kInt, {"TireSetsAvailable", "TireSetsUsed"});
    add(kFloat, {"CarIdxLapDistPct"}, 64);
    add(kInt, {"CarIdxTrackSurface"}, 64);
    add(kFloat, {"LFcoldPressure", "RFcoldPressure", "LRcoldPressure", "RRcoldPressure", "LFtempCR",
                 "RFtempCL", "LRtempCR", "RRtempCL", "LFwearR", "RFwearL", "LRwearR", "RRwearL"});
    return v;
}

namespace {

void appendf(std::string& out, const char* format, auto... args) {
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    out += line;
}

// The fields the plugin reads, among neighbours that share their first letters, so a query
// has to skip look-alike keys as it does in a real session.
void appendDriver(std::string& out, int carIdx) {
    const bool pace = carIdx == 0;
    appendf(out, " - CarIdx: %d\n", carIdx);
    if (pace) {
        out += "   UserName: Pace Car\n   UserID: -1\n";
    } else {
        appendf(out, "   UserName: Driver %d\n   UserID: %d\n", carIdx, 100000 + carIdx);
    }
    appendf(out, "   CarNumber: \"%d\"\n   CarNumberRaw: %d\n", carIdx, carIdx);
    out += pace ? "   CarClassID: 11\n   CarID: 120\n   CarIsPaceCar: 1\n"
                  "   CarScreenName: safety pcporsche911cup\n"
                  "   CarScreenNameShort: safety pcporsche911cup\n"
                : "   CarClassID: 74\n   CarID: 67\n   CarIsPaceCar: 0\n"
                  "   CarScreenName: Mazda MX-5 Cup\n   CarScreenNameShort: MX-5 Cup\n";
    out += "   CarClassMaxFuelPct: 1.000 %\n   CarClassEstLapTime: 98.1234\n";
    appendf(out, "   IRating: %d\n", pace ? 0 : 1350 + 10 * carIdx);
    out += "   CurDriverIncidentCount: 0\n";
}

void appendSession(std::string& out, int num, const char* laps, const char* time, const char* type,
                   const char* name) {
    appendf(out, " - SessionNum: %d\n   SessionLaps: %s\n   SessionTime: %s\n", num, laps, time);
    appendf(out, "   SessionType: %s\n   SessionName: %s\n", type, name);
    out += "   ResultsPositions: \n   ResultsFastestLap: \n";
    out += "   - CarIdx: 255\n     FastestLap: 0\n     FastestTime: -1.0000\n";
    out += "   ResultsLapsComplete: -1\n   ResultsOfficial: 0\n";
}

void appendCorner(std::string& out, const char* corner, int pressure) {
    appendf(out, "  %s:\n   StartingPressure: %d kPa\n   LastHotPressure: %d kPa\n", corner,
            pressure, pressure);
    out += "   LastTempsOMI: 30C, 30C, 30C\n   TreadRemaining: 100%, 100%, 100%\n";
}

}  // namespace

std::string sampleSessionText(int cars) {
    std::string s = R"(---
WeekendInfo:
 TrackName: lagunaseca
 TrackID: 47
 TrackLength: 3.60 km
 TrackDisplayName: WeatherTech Raceway at Laguna Seca
 TrackDisplayShortName: Laguna Seca
 TrackConfigName: Full Course
 TrackPitSpeedLimit: 72.42 kph
 TrackSurfaceTemp: 34.27 C
 TrackAirTemp: 25.55 C
 TrackAirPressure: 29.53 Hg
 SeriesID: 139
 SessionID: 200123456
 SubSessionID: 61234567
 WeekendOptions:
)";
    appendf(s, "  NumStarters: %d\n", std::max(cars - 1, 0));
    s += R"(  StartingGrid: 2x2 inline pole on left
  WeatherTemp: 25.56 C
 TelemetryOptions:
  TelemetryDiskFile: ""

SessionInfo:
 Sessions:
)";
    appendSession(s, 0, "unlimited", "1800.0000 sec", "Practice", "PRACTICE");
    appendSession(s, 1, "unlimited", "600.0000 sec", "Lone Qualify", "QUALIFY");
    appendSession(s, 2, "20", "unlimited", "Race", "RACE");
    s += R"(
CameraInfo:
 Groups:
 - GroupNum: 1
   Cameras:
   - CameraNum: 1
     CameraName: CamNose

DriverInfo:
 DriverCarIdx: 1
 DriverUserID: 100001
 PaceCarIdx: 0
 DriverCarRedLine: 7500.000
 DriverCarFuelKgPerLtr: 0.750
 DriverCarFuelMaxLtr: 45.000
 DriverCarMaxFuelPct: 1.000
 DriverCarSLFirstRPM: 5500.000
 DriverCarSLShiftRPM: 6800.000
 DriverCarSLLastRPM: 6900.000
 DriverPitTrkPct: 0.921522
 DriverCarEstLapTime: 98.1234
 Drivers:
)";
    for (int i = 0; i < cars; ++i) {
        appendDriver(s, i);
    }
    s += R"(
SplitTimeInfo:
 Sectors:
 - SectorNum: 0
   SectorStartPct: 0.000000

CarSetup:
 UpdateCount: 1
 Tires:
)";
    appendCorner(s, "LeftFront", 160);
    appendCorner(s, "LeftRear", 150);
    appendCorner(s, "RightFront", 165);
    appendCorner(s, "RightRear", 155);
    s += " Chassis:\n  Front:\n   CrossWeight: 50.0%\n\n...\n";
    return s;
}

simblock::BlockOptions defaultFakeBlockOptions() {
    simblock::BlockOptions o;
    o.sessionCapacity = 256 * 1024;
    return o;
}

// A connection outliving its fake (a process-wide client a test forgot to detach) behaves
// like a simulator that is not there instead of touching freed memory.
class FakeSimulator::Connection : public telemetry::SimulatorConnection {
  public:
    explicit Connection(FakeSimulator& sim) : sim_(&sim) { sim.connections_.push_back(this); }
    ~Connection() override {
        if (sim_) {
            std::erase(sim_->connections_, this);
        }
    }
    void orphan() {
        sim_ = nullptr;
        mapping_ = view_ = event_ = false;
    }

    bool openMapping() override {
        return open(mapping_, &FakeSimulator::openMappingCalls, &FakeSimulator::failOpenMapping);
    }
    bool mapView() override {
        return open(view_, &FakeSimulator::mapViewCalls, &FakeSimulator::failMapView, mapping_);
    }
    bool openEvent() override {
        return open(event_, &FakeSimulator::openEventCalls, &FakeSimulator::failOpenEvent);
    }
    bool hasMapping() const override { return mapping_; }
    bool hasView() const override { return view_; }
    bool hasEvent() const override { return event_; }
    const uint8_t* view() const override { return view_ ? sim_->region() : nullptr; }
    size_t viewSize() const override {
        if (!view_) {
            return 0;
        }
        return sim_->reportedViewSize ? *sim_->reportedViewSize : sim_->regionSize();
    }
    size_t mappedSize() const override {
        return view_ && sim_->reportedMappedSize ? *sim_->reportedMappedSize : viewSize();
    }
    // Pages past the size the system reports are gone: the copy faults, as it would on POSIX.
    bool copyOut(size_t offset, uint8_t* destination, size_t length) override {
        if (!view_ || offset + length > viewSize()) {
            return false;
        }
        std::memcpy(destination, sim_->region() + offset, length);
        return true;
    }
    bool waitEvent(int timeoutMs) override {
        if (!sim_) {
            return false;
        }
        sim_->lastWaitTimeoutMs = timeoutMs;
        const bool signalled = event_ && std::exchange(sim_->signalled_, false);
        if (!signalled && sim_->waitPassesTime) {
            platform::clock().sleepMs(timeoutMs);
        }
        return signalled;
    }
    void close() override {
        if (sim_) {
            ++sim_->closeCalls;
        }
        mapping_ = view_ = event_ = false;
    }
    void rowCopied() override {
        if (!sim_) {
            return;
        }
        if (sim_->tearsLeft_ > 0) {
            --sim_->tearsLeft_;
            sim_->rewriteNewestBuffer();
        }
        if (sim_->onRowCopied) {
            sim_->onRowCopied();
        }
    }

  private:
    // A step of opening, counted; it fails by its switch, or without the step before it.
    bool open(bool& opened, int FakeSimulator::*calls, bool FakeSimulator::*fails,
              bool after = true) {
        if (sim_) {
            ++(sim_->*calls);
        }
        opened = sim_ && after && !(sim_->*fails);
        return opened;
    }

    FakeSimulator* sim_;
    bool mapping_ = false;
    bool view_ = false;
    bool event_ = false;
};

FakeSimulator::FakeSimulator(std::vector<simblock::VarSpec> vars, simblock::BlockOptions options)
    : options_(options) {
    build(std::move(vars), options_);
}

FakeSimulator::~FakeSimulator() {
    for (Connection* c : connections_) {
        c->orphan();
    }
}

bool FakeSimulator::build(std::vector<simblock::VarSpec> vars,
                          const simblock::BlockOptions& options) {
    simblock::BlockLayout layout = simblock::computeLayout(vars, options);
    if (!layout.ok) {
        std::fprintf(stderr, "FakeSimulator: unusable block: %s\n", layout.error.c_str());
        return false;
    }
    region_.assign(layout.totalSize, 0);
    writer_ = std::make_unique<simblock::BlockWriter>(region_.data(), region_.size(),
                                                      std::move(vars), options);
    return writer_->ok();
}

std::unique_ptr<telemetry::SimulatorConnection> FakeSimulator::connection() {
    return std::make_unique<Connection>(*this);
}

void FakeSimulator::attach(telemetry::TelemetryClient& client) {
    client.replaceConnection(connection());
}

telemetry::VarHeader* FakeSimulator::varHeader(std::string_view name) {
    int i = writer_->indexOf(name);
    if (i < 0) {
        return nullptr;
    }
    auto* table =
        reinterpret_cast<telemetry::VarHeader*>(region_.data() + writer_->layout().varHeaderOffset);
    return &table[i];
}

int32_t FakeSimulator::publish() {
    int32_t tick = writer_->publish();
    signalled_ = true;
    return tick;
}

void FakeSimulator::overwriteSessionText(std::string_view text, bool terminate) {
    const simblock::BlockLayout& l = writer_->layout();
    char* area = reinterpret_cast<char*>(region_.data() + l.sessionInfoOffset);
    size_t capacity = static_cast<size_t>(l.sessionCapacity);
    size_t n = std::min(text.size(), capacity);
    std::memcpy(area, text.data(), n);
    if (terminate && n < capacity) {
        area[n] = '\0';
    }
}

void FakeSimulator::rewriteNewestBuffer() {
    telemetry::BlockHeader* h = header();
    int newest = 0;
    for (int i = 1; i < writer_->layout().numBuffers; ++i) {
        if (h->buffers[i].tickCount > h->buffers[newest].tickCount) {
            newest = i;
        }
    }
    std::vector<uint8_t>& row = writer_->stagingRow();
    std::memcpy(region_.data() + writer_->layout().bufferOffsets[newest], row.data(), row.size());
    int32_t tick = writer_->lastTick() + 1;
    h->buffers[newest].tickCount = tick;
    writer_->setTickCounter(tick);
    signalled_ = true;
}

bool FakeSimulator::changeLayout(std::vector<simblock::VarSpec> vars) {
    const simblock::BlockLayout& l = writer_->layout();
    const char* area = reinterpret_cast<const char*>(region_.data() + l.sessionInfoOffset);
    const std::string text(area, strnlen(area, static_cast<size_t>(l.sessionCapacity - 1)));
    int32_t tick = writer_->lastTick();
    int32_t update = writer_->sessionInfoUpdate();
    bool connected = writer_->connected();
    if (!build(std::move(vars), options_)) {
        return false;
    }
    writer_->setTickCounter(tick);
    writer_->header()->sessionInfoUpdate = update;
    writer_->setSessionText(text);
    writer_->setConnected(connected);
    return true;
}

bool FakeSimulator::deliver(telemetry::TelemetryClient& client, int maxRows) {
    for (int i = 0; i < maxRows; ++i) {
        publish();
        if (client.waitForTelemetry(16)) {
            return true;
        }
    }
    return false;
}

}  // namespace testsupport

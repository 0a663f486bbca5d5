#pragma once
// Where the published rows come from: the race model, or a recorded file.

#include <memory>
#include <string>
#include <vector>

#include "tools/simblock/sim_block.h"
#include "tools/simfeed/ibt_file.h"
#include "tools/simfeed/race_model.h"
#include "tools/simfeed/replay.h"
#include "tools/simfeed/variables.h"

namespace simfeed {

class FeedSource {
  public:
    virtual ~FeedSource() = default;
    virtual std::vector<simblock::VarSpec> vars() const = 0;
    virtual int tickRate() const = 0;
    // Called once the block is laid out, before the first row.
    virtual void bind(const simblock::BlockLayout& layout) = 0;
    // Advances by one tick; false when there is nothing more to publish.
    virtual bool advance() = 0;
    virtual void fillRow(std::vector<uint8_t>& row) = 0;
    virtual std::string sessionText() const = 0;
    // Raised whenever the session text changes.
    virtual int sessionTextRevision() const = 0;
    virtual bool finished() const = 0;
    virtual PitCommandOutcome pitCommand(int32_t code, int32_t value) = 0;
    virtual double sessionTime() const = 0;
    // The session being published; -1 when the source does not know (a replay).
    virtual int sessionNum() const = 0;
    // One line for the console's status row.
    virtual std::string status() const = 0;
    // The race's truth lines (a simulated race only); collected once switched on.
    virtual void recordTruth(bool) {}
    virtual std::vector<std::string> takeTruth() { return {}; }
};

class ModelSource final : public FeedSource {
  public:
    explicit ModelSource(const Scenario& s) : model_(s), vars_(feedVariables()) {}
    std::vector<simblock::VarSpec> vars() const override { return vars_; }
    int tickRate() const override { return kTicksPerSecond; }
    void bind(const simblock::BlockLayout& layout) override;
    bool advance() override;
    void fillRow(std::vector<uint8_t>& row) override;
    std::string sessionText() const override { return model_.sessionText(); }
    int sessionTextRevision() const override { return model_.sessionTextRevision(); }
    bool finished() const override { return model_.finished(); }
    PitCommandOutcome pitCommand(int32_t code, int32_t value) override {
        return model_.applyPitCommand(code, value);
    }
    double sessionTime() const override { return model_.sessionTime(); }
    int sessionNum() const override { return model_.sessionNum(); }
    std::string status() const override;
    void recordTruth(bool on) override { model_.recordTruth(on); }
    std::vector<std::string> takeTruth() override { return model_.takeTruth(); }
    const RaceModel& model() const { return model_; }

  private:
    RaceModel model_;
    std::vector<simblock::VarSpec> vars_;
    std::unique_ptr<RowWriter> writer_;
};

class ReplaySource final : public FeedSource {
  public:
    // Takes an opened reader.
    ReplaySource(std::unique_ptr<IbtReader> reader, bool loop);
    std::vector<simblock::VarSpec> vars() const override { return replayVarSpecs(reader_->vars()); }
    int tickRate() const override { return reader_->tickRate(); }
    void bind(const simblock::BlockLayout& layout) override;
    bool advance() override;
    void fillRow(std::vector<uint8_t>& row) override;
    std::string sessionText() const override { return reader_->sessionText(); }
    int sessionTextRevision() const override { return 1; }
    bool finished() const override { return done_; }
    PitCommandOutcome pitCommand(int32_t code, int32_t value) override;
    double sessionTime() const override { return next_ / static_cast<double>(tickRate()); }
    int sessionNum() const override { return -1; }
    std::string status() const override;

  private:
    std::unique_ptr<IbtReader> reader_;
    std::unique_ptr<ReplayMapper> mapper_;
    std::vector<uint8_t> fileRow_;
    bool loop_;
    int32_t next_ = 0;  // the row the next advance() publishes
    bool done_ = false;
    bool readFailed_ = false;
};

}  // namespace simfeed

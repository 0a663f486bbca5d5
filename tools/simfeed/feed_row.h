#pragma once
// Turns the state of the race model into one telemetry row.

#include "tools/simfeed/race_model.h"
#include "tools/simfeed/variables.h"

namespace simfeed {

// Writes every published variable for the model's current tick into the writer's row.
void writeRow(const RaceModel& model, RowWriter& w);

}  // namespace simfeed

// Stands in for the race engineering of the tick: no driver commands, pit or track calls.
#include "plugin/app/seams.h"

namespace engineer {

CommandResult DriverCommands() {
    return CommandResult::kTickGoesOn;
}

void GarageDriverCommands() {}

void PitRoadHandling() {}

void OnTrackCalls() {}

}  // namespace engineer

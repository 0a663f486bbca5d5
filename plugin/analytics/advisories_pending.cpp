// Stands in for the spoken advisories until they are written: nothing is said.
#include "plugin/analytics/analytics_calls.h"

namespace analytics {

void AdviseTireSets() {}
void AdviseTrackConditions() {}
void AdviseTirePressure() {}
void AdviseStartingFuel() {}

}  // namespace analytics

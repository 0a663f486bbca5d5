// Stands in for the analytics operations while the analytics library is not part of the tree:
// no tire is ordered and no advisory is spoken, as with the frame's other stand-ins.
#include "plugin/engineer/analytics_calls.h"

namespace analytics {

void OrderAdaptiveTires() {}
void OrderTiresForMode() {}
void AdviseTireSets() {}
void AdviseTrackConditions() {}
void AdviseTirePressure() {}
void AdviseStartingFuel() {}

}  // namespace analytics

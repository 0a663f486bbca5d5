// Stands in for the tire orders until they are written: no tire is ordered.
#include "plugin/analytics/analytics_calls.h"

namespace analytics {

void OrderAdaptiveTires() {}
void OrderTiresForMode() {}

}  // namespace analytics

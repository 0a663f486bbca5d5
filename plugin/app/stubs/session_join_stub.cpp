// Stands in for the session-join log line until the advisories provide it.
#include "plugin/app/seams.h"

namespace analytics {

void LogSessionJoin() {}

}  // namespace analytics

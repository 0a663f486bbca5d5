// Stands in for the session snapshot refresh until analytics provides it.
#include "plugin/app/seams.h"

namespace analytics {

void RefreshSessionSnapshot() {}

}  // namespace analytics

#include "common/logo.h"

#include "platform/console_logo.h"

namespace common {

void DrawConsoleLogo(int resourceId, int x, int y) {
    platform::drawConsoleLogo(kLogoWindowTitle, resourceId, x, y);
}

void DrawLogo() {
    DrawConsoleLogo(kLogoResource, 0, 0);
}

}  // namespace common

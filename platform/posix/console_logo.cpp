#include "platform/console_logo.h"

namespace platform {

// A terminal has no window of the program's own to draw a bitmap into.
void drawConsoleLogo(const char*, int, int, int) {}

}  // namespace platform

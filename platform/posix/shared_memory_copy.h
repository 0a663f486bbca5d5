#pragma once
// Copying out of a mapping whose object another program may shrink under it.

#include <cstddef>

namespace platform::posix {

// memcpy that survives the source's pages going away: false when touching them raised SIGBUS
// (the object was truncated below them), true when every byte was copied. Costs no system
// call once the first copy of the process has installed the handler.
bool copyUnlessPagesGone(void* destination, const void* source, size_t length);

}  // namespace platform::posix

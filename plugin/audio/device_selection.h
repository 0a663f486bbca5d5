#pragma once
// How the interactive device choice reads the driver's number; tests replace it.

#include <functional>

namespace audio {

// Reads one decimal integer from the console into `value`; false when the input is no number.
using NumberReader = std::function<bool(int& value)>;
// An empty function restores the console reader.
void setNumberReader(NumberReader reader);

}  // namespace audio

#pragma once
// The choice of the output device at start-up, and how the interactive choice reads the
// driver's number (tests replace the reader).

#include <functional>

namespace audio {

// Lists the output devices, lets the driver choose, plays the test sounds, saves the choice.
void SelectAudioDeviceInteractive();
// Uses engineer::Race().AudioInterfaceId and plays the test sounds; saves nothing.
void SelectAudioDevicePredefined();

// Reads one decimal integer from the console into `value`; false when the input is no number.
using NumberReader = std::function<bool(int& value)>;
// An empty function restores the console reader.
void setNumberReader(NumberReader reader);

}  // namespace audio

#pragma once
// The serial pit board: a display on the highest-numbered COM port fed with one line per refresh.

#include <string>

namespace links {

// Opens the port when "Setup"/"UseSerial" asks for it. False only when a port was wanted and
// could not be opened.
bool OpenSerialPitBoard();

// Parses the system's list of device names: fills `list` with up to *count (capacity in)
// COM port numbers, sets *count to the number stored, returns the highest number or -1.
int FindComPorts(int* list, int* count);

// Formats (printf rules, at most 4095 characters) and writes to the open port without the
// terminating zero. Returns the bytes written; 0 with no port or no format.
int WriteSerialLine(const char* format, ...);

// Closes the port if open (orderly shutdown and the ctrl-c handler).
void CloseSerialPitBoard();

// Where FindComPorts gets the system's device-name list (zero-separated names ended by an
// empty name); false with the system error code when there is none. Tests give their own
// list; nullptr restores the system's.
using DeviceNameSource = bool (*)(std::string* names, int* errorCode);
void SetDeviceNameSource(DeviceNameSource source);

}  // namespace links

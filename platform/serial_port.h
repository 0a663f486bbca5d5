#pragma once
// The serial line of the pit board: device names, and a port opened write-only in practice at
// 9600 baud 8N1.
//
// Windows: the names come from QueryDosDeviceA(NULL) and a port is "\\.\COM<n>".
// POSIX: there are no COM names, so the serial devices of the device directory (/dev, or the
// directory in KORVANE_SERIAL_DIR, or the one set below) are given COM numbers, so that "the
// highest-numbered port" picks the same kind of device it would on Windows:
//   ttyS<k>    -> COM<k + 1>     (k < 99; the built-in UARTs, COM1 being ttyS0 as under DOS;
//                                 in /dev only those the kernel reports a UART for)
//   ttyUSB<k>  -> COM<k + 100>   (k < 100; USB serial adapters)
//   ttyACM<k>  -> COM<k + 200>   (k < 100; USB modems and microcontroller boards)
//   COM<n>     -> COM<n>         (a link made by hand or by a udev rule, e.g. COM7 -> ttyUSB0)
// An explicit COM<n> link wins over a device that maps to the same number.

#include <memory>
#include <string>

namespace platform {

// The device-name list as QueryDosDeviceA(NULL, buffer, bufferSize) gives it: names each ended
// by a zero byte, the list ended by one more. False when the list cannot be had, with the
// system's error code in *errorCode (122, ERROR_INSUFFICIENT_BUFFER, when it does not fit).
bool listDeviceNames(std::string* names, int* errorCode, int bufferSize = 40000);

class SerialPort {
  public:
    virtual ~SerialPort() = default;
    // One synchronous write bounded by the port's write time-out (2 ms per byte); returns the
    // bytes written, fewer (or 0) when the time ran out or the device is gone.
    virtual int write(const char* data, int length) = 0;
};

enum class SerialOpenFailure {
    kNone,
    kOpen,      // missing, busy (ports are not shared) or not a serial device
    kSettings,  // the line settings could not be read or written
};

// Opens COM<number> for reading and writing, not shared; sets 9600 baud, 8 data bits, no
// parity, 1 stop bit (everything else as the driver has it), 8192-byte queues, reads that
// return at once and writes bounded to 2 ms per byte, and discards anything pending.
// nullptr on failure, with the failing step in *failure when given.
std::unique_ptr<SerialPort> openSerialPort(int number, SerialOpenFailure* failure = nullptr);

// POSIX: the directory searched for serial devices instead of /dev and KORVANE_SERIAL_DIR
// (empty: back to those). No effect on Windows.
void setSerialDeviceDirectory(const std::string& directory);

}  // namespace platform

#!/usr/bin/env python3
"""A real button press on a virtual controller reaches PressedFunctions through SDL2, and a real
Right Ctrl + Right Shift + Home chord on a virtual keyboard through the input devices.

Needs the kernel's uinput device (/dev/uinput) and device nodes under /dev/input; where the
machine has neither, the test reports why and is skipped (exit code 77).
"""
import fcntl
import glob
import os
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77

EV_SYN, EV_KEY, EV_ABS = 0x00, 0x01, 0x03
SYN_REPORT = 0
BTN_TRIGGER = 0x120  # the first joystick button: SDL's button 0, bit 0 of the mask
ABS_X, ABS_Y = 0x00, 0x01
KEY_RIGHTSHIFT, KEY_RIGHTCTRL, KEY_HOME = 54, 97, 102
BUS_USB = 0x03


def _ioc(direction, nr, size):
    return (direction << 30) | (size << 16) | (ord("U") << 8) | nr


UI_DEV_CREATE = _ioc(0, 1, 0)
UI_DEV_DESTROY = _ioc(0, 2, 0)
UI_SET_EVBIT = _ioc(1, 100, 4)
UI_SET_KEYBIT = _ioc(1, 101, 4)
UI_SET_ABSBIT = _ioc(1, 103, 4)

VENDOR, PRODUCT = 0x1209, 0x0001  # pid.codes test ids
FUEL, TIRE = 4, 8


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


class VirtualDevice:
    def __init__(self, name, vendor, product, keys, axes=()):
        try:
            self.fd = os.open("/dev/uinput", os.O_WRONLY | os.O_NONBLOCK)
        except OSError as e:
            skip("/dev/uinput cannot be opened (%s): no virtual input devices on this machine"
                 % e.strerror)
        fcntl.ioctl(self.fd, UI_SET_EVBIT, EV_KEY)
        for k in keys:
            fcntl.ioctl(self.fd, UI_SET_KEYBIT, k)
        absmax = [0] * 64
        absmin = [0] * 64
        if axes:
            fcntl.ioctl(self.fd, UI_SET_EVBIT, EV_ABS)
            for a in axes:
                fcntl.ioctl(self.fd, UI_SET_ABSBIT, a)
                absmin[a], absmax[a] = -32768, 32767
        setup = struct.pack("<80s4HI64i64i64i64i", name.encode(), BUS_USB, vendor, product, 1, 0,
                            *absmax, *absmin, *([0] * 64), *([0] * 64))
        os.write(self.fd, setup)
        fcntl.ioctl(self.fd, UI_DEV_CREATE)
        self.name = name

    def emit(self, type_, code, value):
        now = time.time()
        os.write(self.fd, struct.pack("<qqHHi", int(now), int((now % 1) * 1e6), type_, code, value))

    def keys(self, codes, value):
        for c in codes:
            self.emit(EV_KEY, c, value)
        self.emit(EV_SYN, SYN_REPORT, 0)

    def close(self):
        fcntl.ioctl(self.fd, UI_DEV_DESTROY)
        os.close(self.fd)


def node_of(name, timeout=3.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        for sysname in glob.glob("/sys/class/input/event*/device/name"):
            with open(sysname) as f:
                if f.read().strip() == name:
                    node = "/dev/input/" + sysname.split("/")[4]
                    if os.path.exists(node):
                        return node
        time.sleep(0.05)
    return None


def main():
    driver = os.path.abspath(sys.argv[1])
    pad = VirtualDevice("Korvane virtual pad", VENDOR, PRODUCT,
                        range(BTN_TRIGGER, BTN_TRIGGER + 12), (ABS_X, ABS_Y))
    keyboard = VirtualDevice("Korvane virtual keyboard", 0x1209, 0x0002,
                             (KEY_RIGHTSHIFT, KEY_RIGHTCTRL, KEY_HOME))
    try:
        if node_of(pad.name) is None or node_of(keyboard.name) is None:
            skip("uinput works but no /dev/input/event* node appears for its devices "
                 "(no devtmpfs or udev here)")
        time.sleep(0.5)  # let the devices settle before SDL enumerates them
        with tempfile.TemporaryDirectory(prefix="korvane_uinput_") as work:
            with open(os.path.join(work, "Qm_Korvane_Launcher.ini"), "w") as f:
                f.write("[Setup]\nSetupComplete=1\n[Controls]\nFuel=%d:%d:1\n" % (VENDOR, PRODUCT))
            proc = subprocess.Popen([driver, str(FUEL | TIRE), "15"], cwd=work,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            # Start-up reads the devices first; press once the program is polling.
            time.sleep(1.0)
            pad.keys([BTN_TRIGGER], 1)
            keyboard.keys([KEY_RIGHTCTRL, KEY_RIGHTSHIFT, KEY_HOME], 1)
            try:
                out, _ = proc.communicate(timeout=20)
            finally:
                pad.keys([BTN_TRIGGER], 0)
                keyboard.keys([KEY_HOME, KEY_RIGHTSHIFT, KEY_RIGHTCTRL], 0)
            if proc.returncode != 0:
                print("FAIL: the presses did not reach PressedFunctions:\n" + out)
                return 1
            if "AVAILABLE 1" not in out:
                print("FAIL: the virtual controller was not found:\n" + out)
                return 1
            print(out)
    finally:
        pad.close()
        keyboard.close()
    print("a virtual controller's button and a virtual keyboard's chord reached PressedFunctions")
    return 0


if __name__ == "__main__":
    sys.exit(main())

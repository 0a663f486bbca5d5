#!/usr/bin/env python3
"""Drives the first-run controller dialogue through a pseudo-terminal, as a driver sees it.

Every prompt must be on the terminal before the program waits for a button (a terminal's output
is line-buffered and the prompts end without a line feed). Then the six bindings and
"SetupComplete" must be in the settings file, and the next start must say " Setup done." and load
them.
"""
import configparser
import os
import pty
import select
import subprocess
import sys
import tempfile
import time

PROMPTS = [
    (" Fuel Control:         ", "Fuel", 4),
    (" Tire Control:         ", "Tire", 5),
    (" VWeather Control:     ", "Weather", 8),
    (" Stint Control:        ", "Stint", 16),
    (" Mode Option Control:  ", "ModeOption", 1),
    (" Mode Config Control:  ", "ModeConfig", 2),
]
MODEL = "1133:49686"


class Terminal:
    def __init__(self, argv, cwd):
        self.master, slave = pty.openpty()
        self.proc = subprocess.Popen(argv, cwd=cwd, stdin=slave, stdout=slave, stderr=slave,
                                     close_fds=True)
        os.close(slave)
        self.seen = ""
        self.pos = 0

    def _read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.master, 4096)
        except OSError:  # the program ended and the terminal closed
            return False
        if not data:
            return False
        self.seen += data.decode("utf-8", "replace").replace("\r\n", "\n")
        return True

    def expect(self, text, timeout=10.0):
        end = time.monotonic() + timeout
        while True:
            at = self.seen.find(text, self.pos)
            if at >= 0:
                self.pos = at + len(text)
                return
            left = end - time.monotonic()
            if left <= 0 or (not self._read(left) and self.proc.poll() is not None):
                fail("expected %r on the terminal, got after position %d:\n%s"
                     % (text, self.pos, self.seen[self.pos:]), self)

    def quiet(self, forbidden, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self._read(end - time.monotonic())
        if forbidden in self.seen[self.pos:]:
            fail("%r appeared although no button was down:\n%s" % (forbidden, self.seen), self)

    def send(self, line):
        os.write(self.master, (line + "\n").encode())

    def finish(self, timeout=10.0):
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            fail("the program did not end", self)
        while self._read(0.1):
            pass
        os.close(self.master)
        return code

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def fail(message, terminal=None):
    if terminal is not None:
        terminal.kill()
    print("FAIL: " + message)
    sys.exit(1)


def bindings_in(output):
    found = {}
    for line in output.splitlines():
        if line.startswith("BINDING "):
            key, _, value = line[len("BINDING "):].partition("=")
            found[key] = value
    return found


def main():
    driver = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="korvane_dialogue_") as work:
        term = Terminal([driver, "dialogue"], work)
        term.expect(" Controllers available: 1\n")
        term.expect(" Setup Not done.\n")
        term.expect("\n Setting up controls for 6 functions;\n\n")
        term.expect(" Press controller button to assign the following controls:\n")
        for i, (prompt, _, mask) in enumerate(PROMPTS):
            term.expect(prompt)
            if i == 0:
                # No button down: the dialogue keeps waiting.
                term.send("0")
                term.quiet("Button Saved.", 0.5)
            term.send(str(mask))
            term.expect("Button Saved. (%s:%d)" % (MODEL, mask))
        term.expect("\n [\033[32m DONE \033[0m]  Configuration Complete.\n\n")
        term.expect("Loading Controller Configuration.")
        term.expect("Controller Configuration Loaded.\n")
        term.expect("AVAILABLE 1\n")
        code = term.finish()
        if code != 0:
            fail("first run ended with %d:\n%s" % (code, term.seen))
        expected = {key: "%s:%d" % (MODEL, mask) for _, key, mask in PROMPTS}
        if bindings_in(term.seen) != expected:
            fail("first run holds %s, wanted %s" % (bindings_in(term.seen), expected))

        ini = configparser.ConfigParser()
        ini.optionxform = str
        ini.read(os.path.join(work, "Qm_Korvane_Launcher.ini"))
        if ini.get("Setup", "SetupComplete", fallback=None) != "1":
            fail("SetupComplete is not 1 in the settings file")
        stored = dict(ini.items("Controls")) if ini.has_section("Controls") else {}
        if stored != expected:
            fail("settings file holds %s, wanted %s" % (stored, expected))

        term = Terminal([driver, "dialogue"], work)
        term.expect(" Controllers available: 1\n")
        term.expect(" Setup done.\n")
        term.expect("AVAILABLE 1\n")
        code = term.finish()
        if code != 0 or "Setup Not done." in term.seen:
            fail("second run:\n%s" % term.seen)
        if bindings_in(term.seen) != expected:
            fail("second run loaded %s, wanted %s" % (bindings_in(term.seen), expected))
    print("dialogue through the terminal: every prompt shown, six bindings stored and reloaded")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Drives the first-run controller dialogue through a pseudo-terminal, as a driver sees it.

Every prompt must be on the terminal before the program waits for a button (a terminal's output
is line-buffered and the prompts end without a line feed). Then the six bindings and
"SetupComplete" must be in the settings file, and the next start must say " Setup done." and load
them.
"""
import configparser
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "support"))
from e2e_driver import Failure, expect, in_order, plugin_run  # noqa: E402

PROMPTS = [
    (" Fuel Control:         ", "Fuel", 4),
    (" Tire Control:         ", "Tire", 5),
    (" VWeather Control:     ", "Weather", 8),
    (" Stint Control:        ", "Stint", 16),
    (" Mode Option Control:  ", "ModeOption", 1),
    (" Mode Config Control:  ", "ModeConfig", 2),
]
MODEL = "1133:49686"
EXPECTED = {key: "%s:%d" % (MODEL, mask) for _, key, mask in PROMPTS}


def bindings_in(text):
    lines = [line[len("BINDING "):] for line in text.splitlines() if line.startswith("BINDING ")]
    return dict(line.partition("=")[::2] for line in lines)


def first_run(driver, work):
    run = plugin_run([driver, "dialogue"], work, dict(os.environ))
    run.start()
    for i, (prompt, _, mask) in enumerate(PROMPTS):
        run.wait_for(prompt, 10)
        if i == 0:
            # No button down: the dialogue keeps waiting.
            run.type_line("0")
            run.pump(0.5)
            expect("Button Saved." not in run.text(), "saved although no button was down", run)
        run.type_line(str(mask))
        run.wait_for("Button Saved. (%s:%d)" % (MODEL, mask), 10)
    run.wait_for("AVAILABLE 1\n", 10)
    expect(run.finish(10) == 0, "the first run failed", run)
    missing = in_order(run.text(), [
        " Controllers available: 1\n", " Setup Not done.\n",
        "\n Setting up controls for 6 functions;\n\n",
        " Press controller button to assign the following controls:\n"] +
        [p for p, _, _ in PROMPTS] +
        ["\n [\033[32m DONE \033[0m]  Configuration Complete.\n\n",
         "Loading Controller Configuration.", "Controller Configuration Loaded.\n"])
    expect(missing is None, "missing or out of order: %r" % missing, run)
    expect(bindings_in(run.text()) == EXPECTED, "the first run's bindings", run)


def main():
    driver = os.path.abspath(sys.argv[1])
    try:
        with tempfile.TemporaryDirectory(prefix="korvane_dialogue_") as work:
            first_run(driver, work)
            ini = configparser.ConfigParser()
            ini.optionxform = str
            ini.read(os.path.join(work, "Qm_Korvane_Launcher.ini"))
            if ini.get("Setup", "SetupComplete", fallback=None) != "1":
                raise Failure("SetupComplete is not 1 in the settings file")
            stored = dict(ini.items("Controls")) if ini.has_section("Controls") else {}
            if stored != EXPECTED:
                raise Failure("settings file holds %s, wanted %s" % (stored, EXPECTED))

            run = plugin_run([driver, "dialogue"], work, dict(os.environ))
            run.start()
            run.wait_for("AVAILABLE 1\n", 10)
            expect(run.finish(10) == 0 and "Setup Not done." not in run.text() and
                   " Setup done.\n" in run.text() and bindings_in(run.text()) == EXPECTED,
                   "the second run", run)
    except Failure as f:
        print("FAIL: %s" % f)
        return 1
    print("dialogue through the terminal: every prompt shown, six bindings stored and reloaded")
    return 0


if __name__ == "__main__":
    sys.exit(main())

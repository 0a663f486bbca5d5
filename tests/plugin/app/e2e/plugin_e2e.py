#!/usr/bin/env python3
"""Qm_Korvane_Plugin end to end in a scratch working directory: against the simulator feed, the
passive plugin's rows, the pit-board line a second process reads from the block
"Local\\qrdlocal" by name, and the block going with the feed's disconnect. (The active plugin's
start-up, its race against the feed and its ctrl-c are the race engineering end-to-end test's.)

Linux runs the plugin without a console, sees the simulator come back and ends it by SIGTERM;
Windows (--wine) runs everything under Wine, the plugin below pipe_driver.exe, and ends it by
a key. Exit code 1 on a failure, 77 (skipped) when another simulator block exists here.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "support"))
import e2e_driver as e2e  # noqa: E402
from e2e_driver import OK, WAITING_FOR_SIM, Failure, Skip, expect  # noqa: E402

CTRL_C = "Recieved ctrl-c, Exiting"
TELEMETRY_LOADED = OK + "Telemetry Loaded."
QRD_CLOSING = OK + "QRD link closing."
GARAGE_ROW = re.compile(r" Weather: Air: [-\d.]+ \([-\d.]+\) Track: [-\d.]+ \([-\d.]+\)"
                        r" (Open Garage\.|Setup data read\.)")
FUEL_ROW = re.compile(r" Fuel L:\d+\.\d{3} U:\d+\.\d{3} \d+\.\d{2}L/Laps SL:\s*\d+ FL:\s*\d+"
                      r" EL:\d+\.\d{2} FN:\d+\.\d{2} FPM:\d+ T\d+\.\d{2} NPL:\S+ \d+ \d+")
PIT_BOARD = re.compile(rb"^[ \d]\d,[ \d]{2}\d,[ \d]{2}\d,\d+\.\d\d,[ \d]{2}\d,[ \d]{2}\d,"
                       rb"[ \d]{2}\d\r")
QRD_BLOCK = "/dev/shm/qrdlocal"
OPTS = None


def start_feed(workdir, changes, time_scale, extra=()):
    """The feed on the shipped one-stop race with some scenario keys changed."""
    out = []
    with open(os.path.join(OPTS.scenarios, "one_stop.ini")) as f:
        for line in f:
            key = line.split("=", 1)[0].strip()
            out.append("%s=%s\n" % (key, changes[key]) if key in changes else line)
    with open(os.path.join(workdir, "scenario.ini"), "w") as f:
        f.writelines(out)
    # Names relative to the working directory, so the Windows build finds them too.
    return e2e.FeedProcess(OPTS.feed, workdir, ["--no-keyboard", "--quiet", "--log", "feed.log",
                                                "--stop-file", "feed.stop", "--scenario",
                                                "scenario.ini", "--time-scale", str(time_scale)]
                           + list(extra), wine_run=OPTS.wine,
                           output=os.path.join(workdir, "feed.err"))


def read_block():
    """The block's line as a second process reads it by name; None when there is no block."""
    command = ([OPTS.wine] if OPTS.wine else []) + [OPTS.reader]
    r = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=60)
    text = r.stdout.decode("ascii", "replace").strip()
    return None if r.returncode != 0 or text == "none" else bytes.fromhex(text)


def wait_until(run, seconds, test):
    deadline = time.time() + seconds
    while time.time() < deadline and not run.exited():
        run.pump(0.2)
        value = test()
        if value:
            return value
    return None


def with_feed(workdir, run, feed, body):
    try:
        run.start()
        body()
    finally:
        if not run.exited():
            run.press_key()
            run.finish(30)
        feed.stop(os.path.join(workdir, "feed.stop"))


class NoConsoleRun(e2e.Run):
    """Input on /dev/null, output on a pipe, as from a service or a script: no key can end it."""

    def start(self):
        self.proc = subprocess.Popen(self.args, cwd=self.workdir, env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        self.fd = self.proc.stdout.fileno()

    def exited(self):
        return self.proc.poll() is not None

    def press_key(self):
        self.proc.kill()

    def finish(self, seconds):
        self.pump(seconds)
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise Failure("the plugin did not end; console:\n" + self.text())


def passive_race(workdir, env):
    """Linux runs the plugin without a console until SIGTERM, which ends it as ctrl-c does and
    takes the block's name along; Windows runs it on a console and ends it by a key."""
    # Long enough in the garage to see its row after the plugin's 3 s of loading, and a
    # disconnect well into the race (Linux sees the simulator come back).
    feed = start_feed(workdir, {"GarageSeconds": "200", "WarmupSeconds": "20"}, 20,
                      ["--disconnect", "40:200" if OPTS.wine else "40:50"])
    with open(os.path.join(workdir, "Qm_Korvane_Launcher.ini"), "w") as f:
        f.write("[Setup]\nPassiveMode=1\n")
    env = dict(env, KORVANE_AUDIO_CAPTURE=os.path.join(workdir, "capture.wav"))
    if OPTS.wine:
        run = e2e.plugin_run([OPTS.exe], workdir, env, OPTS.wine, OPTS.driver)
    else:
        run = NoConsoleRun([OPTS.exe], workdir, env)

    def body():
        run.wait_for(e2e.CONNECTED, 60)
        run.wait_for(OK + "QRD Link Connected.", 10)
        run.wait_for(TELEMETRY_LOADED, 20)
        expect(wait_until(run, 30, lambda: GARAGE_ROW.search(run.text())), "no garage row", run)
        expect(wait_until(run, 60, lambda: FUEL_ROW.search(run.text())), "no fuel row", run)
        line = wait_until(run, 20, lambda: PIT_BOARD.match(read_block() or b""))
        expect(line, "no pit-board line in the block: %r" % read_block(), run)
        fields = line.group(0)[:-1].split(b",")
        expect(int(fields[0]) >= 1 and float(fields[3]) > 0, "pit-board %r" % fields, run)
        expect("PIT code=" not in e2e.read_text(os.path.join(workdir, "feed.log")),
               "a pit command in passive mode", run)
        # The feed takes the simulator away: the block goes with it. The wait line follows
        # the closing one within the same watch, but may reach the reader later.
        run.wait_for(QRD_CLOSING, 60)
        closing = run.text().rfind(QRD_CLOSING)
        expect(wait_until(run, 10, lambda: run.text().find(WAITING_FOR_SIM, closing) > 0),
               "no wait for the simulator after the block closed", run)
        expect(wait_until(run, 20, lambda: read_block() is None),
               "the block outlived the connection", run)
        if OPTS.wine:
            run.press_key()
            expect(run.finish(30) == 0, "exit code not 0", run)
            return
        expect(wait_until(run, 30, lambda: os.path.exists(QRD_BLOCK)),
               "no block after the simulator came back", run)
        run.proc.send_signal(signal.SIGTERM)
        expect(run.finish(30) == 0, "exit code not 0 after SIGTERM", run)
        expect(CTRL_C in run.text(), "SIGTERM did not end it as ctrl-c", run)
        expect(not os.path.exists(QRD_BLOCK), "the block outlived the plugin", run)
    with_feed(workdir, run, feed, body)


def main():
    global OPTS
    parser = argparse.ArgumentParser()
    for name in ("exe", "feed", "reader", "scenarios"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--wine", help="tools/wine-run.sh: run the Windows build under Wine")
    parser.add_argument("--driver", help="pipe_driver.exe for the Windows build")
    parser.add_argument("--scratch", default=tempfile.gettempdir())
    OPTS = parser.parse_args()
    for name in ("exe", "feed", "reader", "scenarios", "wine", "driver"):
        if getattr(OPTS, name):
            setattr(OPTS, name, os.path.abspath(getattr(OPTS, name)))

    if not OPTS.wine and (os.path.exists("/dev/shm/IRSDKMemMapFileName") or
                          os.path.exists(QRD_BLOCK)):
        print("SKIP: another simulator block exists on this machine")
        return 77
    if OPTS.wine:
        e2e.prepare_wine(OPTS.wine, OPTS.driver)
    env = dict(os.environ)
    env.setdefault("TERM", "xterm")
    # The audio engine, whichever is linked, must not need a sound card here.
    env.setdefault("KORVANE_AUDIO_BACKEND", "capture")
    os.makedirs(OPTS.scratch, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="plugin_e2e_", dir=OPTS.scratch)
    started = time.time()
    try:
        passive_race(workdir, env)
    except Skip as s:
        print("SKIP: %s" % s)
        return 77
    except Failure as f:
        print("FAIL passive one-stop race: %s" % f)
        return 1
    print("PASS passive one-stop race (%.1f s)" % (time.time() - started))
    shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs Qm_Korvane_Plugin end to end in scratch working directories and checks what a driver
sees, what the log keeps and what the other programs get.

Without a simulator: the banner and status tags, the wait for the simulator, the orderly
shutdown on a key and the immediate exit on ctrl-c.
Against the simulator feed, passive (one-stop race): the connection banner, "Telemetry
Loaded.", the garage row, the fuel status row, the pit-board line in the block
"Local\\qrdlocal" read by a second process by name, and on the feed's disconnect "QRD link
closing." with the wait for the simulator. Without a console (Linux): the passive plugin ticks
on with its input on /dev/null until SIGTERM, and leaves no block behind. Active: the feed's
log shows the automatic fuel request (code 2 with the litres the plugin worked out) on the
approach to the pit entry.

Linux: the plugin runs on a pseudo-terminal; a key and ctrl-c are typed into it.
Windows (--wine): the plugin runs under Wine below pipe_driver.exe, which hands it a Windows
pipe as its input and sends the key when told to; ctrl-c is SIGINT, which Wine turns into the
console's ctrl-c event. The feed and the block reader are the Windows builds under the same
Wine prefix.

Exit code 0 when every run passed, 1 on a failure, 77 (skipped) when a simulator block exists
on this machine, so that the plugin cannot be seen waiting for one.
"""
import argparse
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "support"))
import e2e_driver as e2e  # noqa: E402
from e2e_driver import (INIT, OK, WAITING_FOR_SIM, Failure, Skip, expect,  # noqa: E402
                        in_order)

BANNER_FORMAT = (" Brenvik Korvane Plugin (Release %s)\n Fuel & Tire Adaptive Analytics\n"
                 " Vantreau Edition\n")
BANNER = None  # set from --release
SHUTTING_DOWN = " [ INFO ]  Shutting down." + " " * 39 + "\n"
ENGINE_CLOSED = " [ FMOD ]  Audio engine closed.\n"
CTRL_C = "\n\n Recieved ctrl-c, Exiting\n\n"
START_LINE = re.compile(r"^KV: \d+ :  Starting Up. $")


def read_log(workdir):
    path = os.path.join(workdir, "Qm_Korvane_Plugin.log")
    if not os.path.exists(path):
        raise Failure("no Qm_Korvane_Plugin.log in the working directory")
    with open(path, "r", newline=None) as f:
        return f.read().splitlines()


def scenario_key(make_run, settings, args):
    run = make_run(args, settings)
    run.start()
    run.wait_for(WAITING_FOR_SIM, 90)
    # Waiting, not ending: the loop goes on without the simulator.
    run.pump(1.5)
    expect(not run.exited(), "the plugin ended while waiting for the simulator", run)
    missing = in_order(run.text(), [
        BANNER, OK + "Initialising.", "\n [ FMOD ]  Using predefined audio interface: 3\n",
        INIT + "Adjusting...\n", BANNER, OK + "Plugin Mode: Active\n", WAITING_FOR_SIM])
    expect(missing is None, "missing or out of order: %r" % missing, run)
    log = read_log(run.workdir)
    expect(len(log) == 1 and START_LINE.match(log[0]), "log while running: %r" % log, run)

    run.press_key()
    code = run.finish(60)
    expect(code == 0, "exit code %d after a key" % code, run)
    missing = in_order(run.text(), [WAITING_FOR_SIM, SHUTTING_DOWN, ENGINE_CLOSED])
    expect(missing is None, "missing after the key: %r" % missing, run)
    log = read_log(run.workdir)
    expect(len(log) == 2 and START_LINE.match(log[0]) and
           re.match(r"^KV: \d+ :  Closing Down\.$", log[1]), "log after the key: %r" % log, run)


def scenario_ctrl_c(make_run, settings, args):
    run = make_run(args, settings)
    run.start()
    run.wait_for(WAITING_FOR_SIM, 90)
    run.pump(0.5)
    run.ctrl_c()
    code = run.finish(60)
    expect(code == 0, "exit code %d after ctrl-c" % code, run)
    expect(CTRL_C in run.text(), "no ctrl-c message", run)
    expect(SHUTTING_DOWN not in run.text(), "ctrl-c went through the orderly shutdown", run)
    log = read_log(run.workdir)
    expect(len(log) == 1 and START_LINE.match(log[0]), "log after ctrl-c: %r" % log, run)


TELEMETRY_LOADED = OK + "Telemetry Loaded."
QRD_CONNECTED = OK + "QRD Link Connected."
QRD_CLOSING = OK + "QRD link closing."
GARAGE_ROW = re.compile(r" Weather: Air: [-\d.]+ \([-\d.]+\) Track: [-\d.]+ \([-\d.]+\)"
                        r" (Open Garage\.|Setup data read\.)")
FUEL_ROW = re.compile(r" Fuel L:(\d+\.\d{3}) U:(\d+\.\d{3}) (\d+\.\d{2})L/Laps SL:\s*(\d+)"
                      r" FL:\s*(\d+) EL:(\d+\.\d{2}) FN:(\d+\.\d{2}) FPM:(\d+) T(\d+\.\d{2})"
                      r" NPL:(\S+) (\d+) (\d+)")
PIT_BOARD = re.compile(rb"^[ \d]\d,[ \d]{2}\d,[ \d]{2}\d,\d+\.\d\d,[ \d]{2}\d,[ \d]{2}\d,"
                       rb"[ \d]{2}\d\r")
QRD_BLOCK = "/dev/shm/qrdlocal"
WINE = None  # tools/wine-run.sh under --wine
READER = None  # qrd_block_reader


def program(exe):
    """The command that runs one of the build's programs on this platform."""
    return [WINE, os.path.abspath(exe)] if WINE else [os.path.abspath(exe)]


def scenario_file(workdir, source, changes):
    """The shipped scenario with some keys changed: {"Section": {"Key": "value"}}."""
    out, section = [], None
    with open(source) as f:
        for line in f:
            stripped = line.strip()
            if stripped.startswith("["):
                section = stripped[1:-1]
            elif "=" in stripped and section in changes:
                key = stripped.split("=", 1)[0]
                if key in changes[section]:
                    line = "%s=%s\n" % (key, changes[section].pop(key))
            out.append(line)
    path = os.path.join(workdir, "scenario.ini")
    with open(path, "w") as f:
        f.writelines(out)
    return path


class Feed:
    def __init__(self, exe, workdir, args):
        # Names relative to the working directory, so the Windows build finds them too.
        self.log = os.path.join(workdir, "feed.log")
        self.record = os.path.join(workdir, "feed.ibt")
        self.stop_file = os.path.join(workdir, "feed.stop")
        self.process = e2e.FeedProcess(
            exe, workdir, ["--no-keyboard", "--quiet", "--log", "feed.log", "--record",
                           "feed.ibt", "--stop-file", "feed.stop"] + args,
            wine_run=WINE, output=os.path.join(workdir, "feed.err"))

    def lines(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().splitlines()

    def stop(self):
        # The stop file lets the feed finish its recording.
        self.process.stop(self.stop_file)


def recorded_rows(path, names):
    """(values of `names`) for every row of a recording in the simulator's disk format."""
    with open(path, "rb") as f:
        data = f.read()
    num_vars, var_offset = struct.unpack_from("<ii", data, 24)
    row_length = struct.unpack_from("<i", data, 36)[0]
    first_row = struct.unpack_from("<i", data, 52)[0]
    layout = {}
    for i in range(num_vars):
        at = var_offset + 144 * i
        kind, offset = struct.unpack_from("<ii", data, at)
        name = data[at + 16:at + 48].split(b"\0")[0].decode()
        layout[name] = (kind, offset)
    formats = {0: "<b", 1: "<?", 2: "<i", 3: "<I", 4: "<f", 5: "<d"}
    rows = []
    at = first_row
    while row_length > 0 and at + row_length <= len(data):
        rows.append(tuple(struct.unpack_from(formats[layout[n][0]], data, at + layout[n][1])[0]
                          for n in names))
        at += row_length
    return rows


def distance_to_pit_entry(lap_dist, length, pit_pct):
    d = length - (lap_dist - pit_pct * length)
    return d - length if d > length else d



def read_block():
    """The block's line as a second process reads it by name; None when there is no block."""
    r = subprocess.run(program(READER), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=60)
    text = r.stdout.decode("ascii", "replace").strip()
    if r.returncode != 0 or text == "none":
        return None
    return bytes.fromhex(text)


def wait_until(run, seconds, test):
    deadline = time.time() + seconds
    while time.time() < deadline:
        run.pump(0.2)
        value = test()
        if value:
            return value
        if run.exited():
            break
    return None


def passive_race(opts, make_run, workdir):
    source = os.path.join(opts.scenarios, "one_stop.ini")
    # Long enough in the garage to see its row after the plugin's 3 s of loading, and a
    # disconnect well into the race.
    scenario_file(workdir, source, {"Scenario": {"GarageSeconds": "200",
                                                 "WarmupSeconds": "20"}})
    feed = Feed(opts.feed, workdir, ["--scenario", "scenario.ini", "--time-scale", "20",
                                     "--disconnect", "40:200"])
    run = None
    try:
        run = make_run([], "[Setup]\nPassiveMode=1\n")
        run.start()
        run.wait_for(e2e.CONNECTED, 60)
        run.wait_for(QRD_CONNECTED, 10)
        run.wait_for(TELEMETRY_LOADED, 20)
        e2e.expect(wait_until(run, 30, lambda: GARAGE_ROW.search(run.text())),
                   "no garage row", run)
        row = wait_until(run, 60, lambda: FUEL_ROW.search(run.text()))
        e2e.expect(row, "no fuel status row", run)
        # The line of a refresh while the block is open, read by name from another process.
        line = wait_until(run, 20, lambda: PIT_BOARD.match(read_block() or b""))
        e2e.expect(line, "no pit-board line in the block: %r" % read_block(), run)
        fields = line.group(0)[:-1].split(b",")
        e2e.expect(len(fields) == 7 and int(fields[0]) >= 1 and float(fields[3]) > 0,
                   "pit-board fields %r" % fields, run)
        # Passive: the plugin observes and orders nothing.
        e2e.expect(not any("PIT code=" in l for l in feed.lines()),
                   "a pit command in passive mode: %r" % feed.lines(), run)
        # The feed takes the simulator away: the block goes with it.
        run.wait_for(QRD_CLOSING, 60)
        closing = run.text().rfind(QRD_CLOSING)
        # The wait line follows the closing one within the same watch, but a loaded machine
        # may show the reader the first before the second.
        e2e.expect(wait_until(run, 10, lambda: run.text().find(e2e.WAITING_FOR_SIM, closing) > 0),
                   "no wait for the simulator after the block closed", run)
        e2e.expect(wait_until(run, 20, lambda: read_block() is None),
                   "the block outlived the connection", run)
        run.press_key()
        code = run.finish(30)
        e2e.expect(code == 0, "exit code %d" % code, run)
    finally:
        if run is not None and not run.exited():
            run.press_key()
            run.finish(30)
        feed.stop()


class NoConsoleRun(e2e.Run):
    """The plugin started with its input on /dev/null and its output on a pipe, as from a
    service or a script: no console, so no key can end it."""

    def start(self):
        self.proc = subprocess.Popen(self.args, cwd=self.workdir, env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        self.fd = self.proc.stdout.fileno()

    def exited(self):
        return self.proc.poll() is not None

    def finish(self, seconds):
        self.pump(seconds)
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise e2e.Failure("the plugin did not end; console:\n" + self.text())


def passive_without_console(opts, workdir):
    """Started with no console against the feed, the plugin ticks on until SIGTERM, which ends
    it as ctrl-c does and takes the block's name with it."""
    source = os.path.join(opts.scenarios, "one_stop.ini")
    scenario_file(workdir, source, {"Scenario": {"GarageSeconds": "200"}})
    feed = Feed(opts.feed, workdir, ["--scenario", "scenario.ini", "--time-scale", "20"])
    with open(os.path.join(workdir, "Qm_Korvane_Launcher.ini"), "w") as f:
        f.write("[Setup]\nPassiveMode=1\n")
    run = NoConsoleRun([opts.exe], workdir, dict(os.environ))
    try:
        run.start()
        run.wait_for(TELEMETRY_LOADED, 60)
        rows = []
        for _ in range(2):
            e2e.expect(wait_until(run, 30, lambda: len(GARAGE_ROW.findall(run.text())) >
                                  (rows[-1] if rows else 0)), "no new garage row", run)
            rows.append(len(GARAGE_ROW.findall(run.text())))
            run.pump(1.0)
        e2e.expect(not run.exited(), "the plugin ended with its input on /dev/null", run)
        e2e.expect(os.path.exists(QRD_BLOCK), "no block while connected", run)
        run.proc.send_signal(signal.SIGTERM)
        code = run.finish(30)
        e2e.expect(code == 0, "exit code %d after SIGTERM" % code, run)
        e2e.expect("Recieved ctrl-c, Exiting" in run.text(), "SIGTERM did not end it as ctrl-c",
                   run)
        e2e.expect(not os.path.exists(QRD_BLOCK), "the block outlived the plugin", run)
    finally:
        if not run.exited():
            run.proc.kill()
            run.proc.wait()
        feed.stop()


def active_race(opts, make_run, workdir, changes, check, code):
    source = os.path.join(opts.scenarios, "one_stop.ini")
    scenario_file(workdir, source, changes)
    feed = Feed(opts.feed, workdir, ["--scenario", "scenario.ini", "--time-scale", "15"])
    run = None
    try:
        run = make_run(["3"], "[Setup]\nSetupComplete=1\n")
        run.start()
        run.wait_for(TELEMETRY_LOADED, 60)
        found = wait_until(run, 120, lambda: check(feed.lines(), run.text()))
        e2e.expect(found, "feed log:\n" + "\n".join(feed.lines()), run)
        run.press_key()
        run.finish(30)
    finally:
        if run is not None and not run.exited():
            run.press_key()
            run.finish(30)
        feed.stop()
    # Where the car was when the command arrived: the plugin sent it from a row at most 50 m
    # before the pit entry, and the car has run on for the row or two the command took.
    sent = [float(m.group(1)) for m in
            (re.match(r".*PIT code=%d .*time=([\d.]+)" % code, l) for l in feed.lines()) if m]
    rows = recorded_rows(feed.record, ["SessionTime", "LapDist"])
    e2e.expect(sent and rows, "no command or no recording", run)
    # The log gives the time to a hundredth of a second.
    before = [r for r in rows if r[0] <= sent[0] + 0.005]
    e2e.expect(before, "no recorded row before the command", run)
    d = distance_to_pit_entry(before[-1][1], 5150, 0.93)
    e2e.expect(-40 < d <= 50, "code %d arrived %.1f m before the pit entry" % (code, d), run)
    print("code %d arrived %.1f m before the pit entry" % (code, d))


def fuel_request(lines, console):
    """Code 2 with the litres of the last fuel status row before it: FN - L, whole, plus the
    reserve of the row's burn; the tank is large enough not to cut it."""
    for line in lines:
        m = re.match(r".*PIT code=2 value=(\d+)", line)
        if m:
            rows = FUEL_ROW.findall(console)
            if not rows:
                return None
            level, burn, need = float(rows[-1][0]), float(rows[-1][2]), float(rows[-1][6])
            expected = int(need - level) + int(burn + 0.9) * 2
            value = int(m.group(1))
            # The row was printed a tick or more before the request: allow a litre of drift
            # and one of the per-minute part of the reserve.
            if abs(value - expected) > 3:
                raise e2e.Failure("code 2 value %d, expected about %d from %r"
                                  % (value, expected, rows[-1]))
            return True
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--feed", required=True)
    parser.add_argument("--reader", required=True, help="qrd_block_reader")
    parser.add_argument("--scenarios", required=True)
    parser.add_argument("--wine", help="tools/wine-run.sh: run the Windows build under Wine")
    parser.add_argument("--driver", help="pipe_driver.exe for the Windows build")
    parser.add_argument("--scratch", default=None, help="where the working directories go")
    parser.add_argument("--release", required=True, help="the release number of the build")
    opts = parser.parse_args()
    for name in ("exe", "feed", "reader", "scenarios", "wine", "driver"):
        if getattr(opts, name):
            setattr(opts, name, os.path.abspath(getattr(opts, name)))
    global BANNER, WINE, READER
    BANNER, WINE, READER = BANNER_FORMAT % opts.release, opts.wine, opts.reader

    if not opts.wine and (os.path.exists("/dev/shm/IRSDKMemMapFileName") or
                          os.path.exists(QRD_BLOCK)):
        print("SKIP: another simulator block exists on this machine")
        return 77

    if opts.wine:
        e2e.prepare_wine(opts.wine, opts.driver)
    env = dict(os.environ)
    env["TERM"] = env.get("TERM", "xterm")
    # The audio engine, whichever is linked, must not need a sound card here.
    env.setdefault("KORVANE_AUDIO_BACKEND", "capture")
    scratch_root = opts.scratch or tempfile.gettempdir()
    os.makedirs(scratch_root, exist_ok=True)
    dirs = []

    def workdir():
        d = tempfile.mkdtemp(prefix="plugin_e2e_", dir=scratch_root)
        dirs.append(d)
        return d

    def maker(d):
        def make_run(args, settings):
            with open(os.path.join(d, "Qm_Korvane_Launcher.ini"), "w") as f:
                f.write(settings)
            run_env = dict(env)
            run_env["KORVANE_AUDIO_CAPTURE"] = os.path.join(d, "capture.wav")
            return e2e.plugin_run([opts.exe] + args, d, run_env, opts.wine, opts.driver)
        return make_run

    def fresh():
        return maker(workdir())

    def with_feed(body):
        def run():
            d = workdir()
            body(opts, maker(d), d)
        return run

    active = "[Setup]\nSetupComplete=1\n"
    scenarios = [
        ("a run ends on a key", lambda: scenario_key(fresh(), active, ["3"])),
        ("ctrl-c ends the run at once", lambda: scenario_ctrl_c(fresh(), active, ["3"])),
        ("passive one-stop race", with_feed(passive_race)),
        ("active: fuel set on the pit approach", with_feed(
            lambda o, m, d: active_race(o, m, d, {"Scenario": {"GarageSeconds": "60"}},
                                        fuel_request, 2))),
    ]
    if not opts.wine:
        scenarios.append(("passive without a console, ended by SIGTERM",
                          lambda: passive_without_console(opts, workdir())))
    failed = 0
    for name, body in scenarios:
        started = time.time()
        try:
            body()
            print("PASS %s (%.1f s)" % (name, time.time() - started))
        except Skip as s:
            print("SKIP: %s" % s)
            return 77
        except Failure as f:
            failed += 1
            print("FAIL %s: %s" % (name, f))
    if not failed:
        for d in dirs:
            shutil.rmtree(d, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The race engineer end to end: Qm_Korvane_Plugin in active mode, started before the simulator
and ended by ctrl-c, against the simulator feed and the race-data service, through a race with
two pit stops.

The service first hears, through its own report paths, of an earlier session of the same car,
track and driver that burnt more fuel and wore its tires hard: at pit-in it answers with a
higher burn and "take tires". The feed's command log, the plugin's log and the service's database
must then show each stop's road: the lap report and the three questions, the fuel correction
and its Fuel command, the tire order, the "BOX:" lines and the data report, the consultation
armed again, the report at the flag. (The stop tones in the captured sound are the demo test's,
the new fuel window of each stint the outcome benchmark's.)

Linux: the plugin runs on a pseudo-terminal and reaches the service over HTTPS. Windows
(--wine): the plugin and the feed run under Wine and reach the Linux service over plain HTTP
(Wine's WinHTTP fails the TLS handshake with a local service). Exit code 1 on a failure, 77
(skipped) when another simulator is running here.
"""
import argparse
import os
import re
import shutil
import sqlite3
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "support"))
import e2e_driver as e2e  # noqa: E402
from e2e_driver import (CONNECTED, INIT, OK, WAITING_FOR_SIM, Failure, FeedProcess,  # noqa: E402
                        in_order, plugin_run, prepare_wine, to_windows)

# Who the scenario's driver is, as the session text tells the plugin.
CAR_ID, TRACK_ID, DRIVER_ID, LAP_RACE = 143, 417, 402117, 1
EARLIER_SESSION = 1
EARLIER_BURN = 3.40


class Service(e2e.RaceDataService):
    def rows(self, sql):
        db = sqlite3.connect(self.database)
        try:
            db.row_factory = sqlite3.Row
            return [dict(r) for r in db.execute(sql)]
        finally:
            db.close()


def seed_earlier_session(service):
    """An earlier race of this car on this track: a higher burn and tires worn to 80 % in 10 km."""
    same = {"sid": EARLIER_SESSION, "sli": 4, "tid": TRACK_ID, "cid": CAR_ID, "did": DRIVER_ID,
            "sft": LAP_RACE, "fbpl": "%.2f" % EARLIER_BURN, "fbm": "%.2f" % EARLIER_BURN,
            "fs": "60.0"}  # a tank that holds the burn, or the service refuses the report
    wear = {k: "0.80" for k in ("wlf", "wrf", "wlr", "wrr")}
    for values, data in ((dict(same, st=100, sl=3, tlu=10000), False),
                         (dict(same, st=200, sl=4, **wear), True)):
        answer = service.get(e2e.report_path(values, data))
        if answer.strip() != "1":
            raise Failure("the service did not store the report %r: %r" % (values, answer))


def log_lines(path, stamp):
    """The lines of a program's log without their "<program>: <seconds> : " stamps."""
    with open(path, newline=None) as f:
        return [re.sub(stamp, "", line) for line in f.read().splitlines()]


def check(condition, message):
    if not condition:
        raise Failure(message)


def index_of(lines, pattern, start=0):
    for i in range(start, len(lines)):
        if re.search(pattern, lines[i]):
            return i
    return -1


def check_road(log, feed, service):
    """The plugin's log, the feed's commands and the service's rows of one race with stops."""
    pit_ins = [i for i, m in enumerate(log) if re.search(r"Pit IN: NeededTireRange:", m)]
    check(len(pit_ins) >= 2, "fewer than two pit-in consultations (the second shows the re-arm):"
          "\n" + "\n".join(log))

    # The first stop, line by line in the order of the road.
    at = pit_ins[0]
    road = [
        r"^LOG: Lap \d+ Pit IN: NeededTireRange: \d+ LitersToAdd: \d+ FuelBurnPerLap: \d+\.\d\d "
        r"LocalLapLength: 5150$",
        r"^LOG: Lap \d+ Pit IN: TireReply: 1 ChangeTires: 1 TireAgeInLaps: \d+ Taking Tires",
        r"^LOG: Lap \d+ Pit IN: Checking FuelBurnMaxReply: 3\.40 Current FuelBurnMax: \d",
        r"^LOG: Lap \d+ Pit IN: Setting FuelBurnMax: \d+\.\d\d to FuelBurnMaxReply: 3\.40$",
        r"^LOG: Lap \d+ Pit IN: Checking TirePressureDifferenceReply: -?\d+\.\d\d$",
        r"^BOX: Lap \d+ Session Weather: TrackAir: 25\.55 TrackSurface: 40\.00",
        r"^BOX: Lap \d+ Pitting: QRD : Service : PSV: \d+ FT: 100 FL: ",
        r"^BOX: Lap \d+ Pitting: QRD : Tire Read: LF:",
    ]
    for pattern in road:
        found = index_of(log, pattern, at)
        check(found >= 0, "missing after line %d: %s\nlog:\n%s" % (at, pattern, "\n".join(log)))
        at = found + 1
    check(index_of(log, r"^BOX: ", pit_ins[0]) < pit_ins[1] and
          index_of(log, r"^BOX: Lap \d+ Pitting: QRD : Tire Read:", pit_ins[1]) > pit_ins[1],
          "the BOX lines do not come once for each stop:\n" + "\n".join(log))
    first_pit_lap = int(re.search(r"Lap (\d+)", log[pit_ins[0]]).group(1))

    # The feed: a Fuel command for each consultation that corrected the burn, tires (codes 3 to
    # 6) ordered at the first pit-in, and tire requests cleared on track (code 7).
    commands = [m for m in feed if m.startswith("PIT ")]
    fuel = [m for m in commands if m.startswith("PIT code=2 ")]
    corrections = [i for i in pit_ins
                   if index_of(log, r"Setting FuelBurnMax:", i) in range(i, i + 5)]
    check(len(fuel) >= len(corrections) >= 1,
          "Fuel commands %r for %d corrections" % (fuel, len(corrections)))
    fuel_values = [int(re.search(r"value=(-?\d+)", m).group(1)) for m in fuel]
    # The corrected amount of the first stop is what the crew was asked for.
    updated = index_of(log, r"Pit IN: Updating Fuel: FuelLastSet: ", pit_ins[0])
    if 0 <= updated < pit_ins[1]:
        liters = float(re.search(r"LitersToAdd: (\d+\.\d+)", log[updated]).group(1))
        check(int(liters) in fuel_values,
              "the crew was not asked for the corrected %.2f liters: %r" % (liters, fuel))
    for code in (3, 4, 5, 6):
        check(any(m.startswith("PIT code=%d " % code) for m in commands),
              "no tire order with code %d in the feed's log:\n%s" % (code, "\n".join(feed)))

    # The service: lap reports through the race, one data report per stop and one at the flag.
    laps = service.rows("SELECT * FROM lap_reports WHERE sid != %d ORDER BY id" % EARLIER_SESSION)
    data = service.rows("SELECT * FROM data_reports WHERE sid != %d ORDER BY id" % EARLIER_SESSION)
    check(laps, "no lap report reached the service")
    # (Once the leader has finished no laps remain, and the session counts as limited by time.)
    check(all(r["cid"] == CAR_ID and r["tid"] == TRACK_ID and r["did"] == DRIVER_ID and
              (r["sft"] == LAP_RACE or r["sl"] > first_pit_lap + 2) for r in laps),
          "lap reports with the wrong car, track, driver or race kind: %r" %
          [(r["cid"], r["tid"], r["did"], r["sft"], r["sl"]) for r in laps])
    check(len(data) == 3, "data reports %r; two stops and the flag expected" %
          [(r["sl"], r["fu"]) for r in data])
    # The flag's report: the last lap, the burn the service knew kept as the maximum.
    final = data[-1]
    second_pit_lap = int(re.search(r"Lap (\d+)", log[pit_ins[1]]).group(1))
    check(final["sl"] > second_pit_lap,
          "the last data report is of lap %d, not of the flag" % final["sl"])
    check(final["fbm"] > 0, "the flag's data report has no fuel burn")


def run(opts):
    if not opts.wine and os.path.exists("/dev/shm/IRSDKMemMapFileName"):
        print("SKIP: a simulator block exists on this machine")
        return 77
    scratch = tempfile.mkdtemp(prefix="race_engineering_", dir=opts.scratch)
    secure = not opts.wine
    service = Service(opts.service, os.path.join(scratch, "service"), secure)
    feed = plugin = None
    try:
        seed_earlier_session(service)
        workdir = os.path.join(scratch, "plugin")
        os.makedirs(workdir)
        with open(os.path.join(workdir, "Qm_Korvane_Launcher.ini"), "w") as f:
            f.write("[Setup]\nSetupComplete=1\n")
            f.write("[Service]\nHost=127.0.0.1\nPort=%d\nSecure=%d\n" % (service.port, secure))
            if secure:
                f.write("CACertificate=%s\n" % service.certificate)
        env = dict(os.environ)
        env["TERM"] = env.get("TERM", "xterm")
        env.setdefault("KORVANE_AUDIO_BACKEND", "capture")
        capture = os.path.join(workdir, "capture.wav")
        env["KORVANE_AUDIO_CAPTURE"] = to_windows(capture) if opts.wine else capture
        argv = [opts.plugin, "3"]
        if opts.wine:
            prepare_wine(opts.wine, opts.driver)
        plugin = plugin_run(argv, workdir, env, opts.wine, opts.driver)
        plugin.start()
        plugin.wait_for(WAITING_FOR_SIM, 90)
        banner = (" Brenvik Korvane Plugin (Release %s)\n Fuel & Tire Adaptive Analytics\n"
                  " Vantreau Edition\n") % opts.release
        missing = in_order(plugin.text(), [
            banner, OK + "Initialising.", "\n [ FMOD ]  Using predefined audio interface: 3\n",
            INIT + "Adjusting...\n", banner, OK + "Plugin Mode: Active\n", WAITING_FOR_SIM])
        check(missing is None, "start-up missing or out of order: %r\n%s" % (missing, plugin.text()))

        started = time.time()
        feed_log = os.path.join(scratch, "Qm_Korvane_SimFeed.log")
        feed = FeedProcess(opts.feed, scratch, ["--scenario", opts.scenario, "--until-end",
                                                "--no-keyboard", "--quiet", "--log", feed_log],
                           wine_run=opts.wine)
        while not feed.ended() and time.time() - started < opts.race_seconds:
            plugin.pump(0.2)
            check(not plugin.exited(), "the plugin ended during the race:\n" + plugin.text())
        check(feed.ended(), "the race did not end within %d s" % opts.race_seconds)
        race_time = time.time() - started
        check(CONNECTED in plugin.text(), "the plugin never saw the simulator:\n" + plugin.text())
        # Ctrl-c ends it at once, without the orderly shutdown (the passive runs end by a key).
        plugin.pump(3)
        plugin.ctrl_c()
        code = plugin.finish(60)
        check(code == 0, "exit code %d after ctrl-c" % code)
        check("Recieved ctrl-c, Exiting" in plugin.text() and
              " [ INFO ]  Shutting down." not in plugin.text(),
              "ctrl-c did not end the plugin at once:\n" + plugin.text())

        log = log_lines(os.path.join(workdir, "Qm_Korvane_Plugin.log"), r"^KV: \d+ :  ")
        check(log[0] == "Starting Up. " and "Closing Down." not in log,
              "the log's first or last line: %r" % (log[:1] + log[-1:]))
        feed_lines = log_lines(feed_log, r"^SimFeed: \d+ : ")
        try:
            check_road(log, feed_lines, service)
        except Failure as f:
            with open(os.path.join(scratch, "plugin_console.txt"), "w") as out:
                out.write(plugin.text())
            raise Failure("%s\nfeed log:\n%s\n(kept in %s)" % (f, "\n".join(feed_lines), scratch))
        print("PASS race with two stops in %.1f s of race (%d log lines, %d feed lines)" %
              (race_time, len(log), len(feed_lines)))
        shutil.rmtree(scratch, ignore_errors=True)
        return 0
    finally:
        if feed:
            feed.kill()
        if plugin:
            plugin.kill()
        service.stop()


def main():
    parser = argparse.ArgumentParser()
    for name in ("plugin", "feed", "service", "scenario", "release"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--scratch", default=None)
    parser.add_argument("--wine", help="tools/wine-run.sh: run the Windows build under Wine")
    parser.add_argument("--driver", help="pipe_driver.exe for the Windows build")
    parser.add_argument("--race-seconds", type=int, default=120)
    opts = parser.parse_args()
    for name in ("plugin", "feed", "service", "scenario", "wine", "driver"):
        if getattr(opts, name):
            setattr(opts, name, os.path.abspath(getattr(opts, name)))
    if opts.scratch:
        os.makedirs(opts.scratch, exist_ok=True)
    try:
        return run(opts)
    except Failure as f:
        print("FAIL %s" % f)
        return 1


if __name__ == "__main__":
    sys.exit(main())

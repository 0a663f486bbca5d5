#!/usr/bin/env python3
"""The race-outcome benchmark: the plugin (active, sound to the capture file, the local
race-data service) against simulator-feed scenarios, judged from the feed's own truth.

usage: outcome.py [--short] [--time-scale X] [--jobs N] [--bin DIR] [--plugin FILE] [--out DIR]
                  [--judge-only] [SCENARIO...]

--plugin runs another build of the plugin (another commit's, for figures before a change)
against this tree's feed, service and judge.

Each scenario runs in an IPC namespace and /dev/shm of its own where the machine allows it
(the plugin and the feed meet under the simulator's global names), two at a time. Per race the
judge reads the feed's truth file (true fuel, distance, stops), the feed's pit-command log and
the service's request log (the plugin's lap reports) and prints one line; the last line is

    outcome: <N> scenarios, <D> ran dry, worst burn error <E>%, most spare <S> laps

The exit status is 1 when a race ran dry, a burn was off by more than 2 % from the second lap
of a stint, or a run failed. Spare fuel above the bar is shown ("OVER") but does not fail the run:
it comes from the plugin's planning rules, which the table is there to show. The bar is the
plugin's own reserve (from the true burns) plus one lap, in lap-limited races only.
"""
import argparse
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from urllib.parse import parse_qs, urlsplit

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import e2e_driver  # noqa: E402

FULL = ["one_stop", "stall_after_line", "two_stop", "three_stop", "timed_race",
        "restricted_tank", "burn_noise", "pace_laps", "field64"]
SHORT = ["one_stop", "stall_after_line"]
BURN_LAPS = (2, 3, 5)  # laps of each stint at which the plugin's burn is judged
BURN_BAR = 2.0  # per cent
FIRST_PORT = 18200


# ---------------------------------------------------------------- one race, in its namespace

def wait_for_file(path, seconds, alive=None):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return True
        if alive is not None and alive.poll() is not None:
            return False
        time.sleep(0.05)
    return False


def run_one(scenario, out, port, time_scale, bindir, plugin_path):
    """Service, plugin and feed for one race; the files the judge reads are left in `out`."""
    service_dir = os.path.join(out, "service")
    plugin_dir = os.path.join(out, "plugin")
    os.makedirs(os.path.join(service_dir, "files"), exist_ok=True)
    os.makedirs(plugin_dir, exist_ok=True)
    procs = []
    try:
        service = subprocess.Popen(
            [os.path.join(bindir, "Qm_Korvane_RaceData"), "--bind", "127.0.0.1", "--port",
             str(port), "--port-file", os.path.join(service_dir, "port"), "--database",
             os.path.join(service_dir, "racedata.db"), "--files",
             os.path.join(service_dir, "files"), "--request-log",
             os.path.join(service_dir, "requests.log")],
            stdin=subprocess.DEVNULL, stdout=open(os.path.join(service_dir, "service.out"), "w"),
            stderr=subprocess.STDOUT)
        procs.append(service)
        cert = os.path.join(service_dir, "racedata.crt")
        if not wait_for_file(os.path.join(service_dir, "port"), 20, service) or \
                not wait_for_file(cert, 20, service):
            raise e2e_driver.Failure("the race-data service did not start (port %d)" % port)
        with open(os.path.join(plugin_dir, "Qm_Korvane_Launcher.ini"), "w") as f:
            f.write("[Setup]\nPassiveMode=0\nUseSerial=0\nSetupComplete=1\n\n"
                    "[Service]\nHost=127.0.0.1\nPort=%d\nSecure=1\nCACertificate=%s\n"
                    % (port, cert))
        env = dict(os.environ)
        env["KORVANE_AUDIO_CAPTURE"] = os.path.join(out, "audio.wav")
        env["KORVANE_SOURCE_DIR"] = ROOT
        plugin = e2e_driver.PtyRun([plugin_path], plugin_dir, env)
        plugin.start()
        # The plugin waits for the simulator before the feed's race begins, so that it sees
        # the whole race from the garage on.
        plugin.wait_for(e2e_driver.WAITING_FOR_SIM, 60)
        feed_log = os.path.join(out, "simfeed.log")
        feed = subprocess.Popen(
            [os.path.join(bindir, "Qm_Korvane_SimFeed"), "--scenario", scenario, "--time-scale",
             str(time_scale), "--until-end", "--log", feed_log, "--truth",
             os.path.join(out, "truth.txt"), "--no-keyboard", "--quiet"],
            cwd=out, stdin=subprocess.DEVNULL,
            stdout=open(os.path.join(out, "simfeed.out"), "w"), stderr=subprocess.STDOUT)
        procs.append(feed)
        while feed.poll() is None:
            plugin.pump(0.5)
            if plugin.exited():
                raise e2e_driver.Failure("the plugin ended before the race did")
        if feed.returncode != 0:
            raise e2e_driver.Failure("the feed failed (exit %d), see %s"
                                     % (feed.returncode, os.path.join(out, "simfeed.out")))
        plugin.press_key()
        code = plugin.finish(60)
        if code != 0:
            raise e2e_driver.Failure("the plugin exited with status %d" % code)
        return 0
    finally:
        if "plugin" in locals():
            with open(os.path.join(plugin_dir, "console.txt"), "wb") as f:
                f.write(plugin.raw)
            plugin.kill()
        for p in procs:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


# ---------------------------------------------------------------- the judge

def fields(line):
    ev, _, rest = line.partition(" ")
    d = {"ev": ev}
    for part in rest.split():
        k, _, v = part.partition("=")
        try:
            d[k] = float(v)
        except ValueError:
            d[k] = v
    return d


def race_truth(path):
    """The truth lines of the last race session."""
    lines = []
    current = None
    with open(path) as f:
        for raw in f:
            d = fields(raw.strip())
            if d["ev"] == "SESSION":
                current = [d]
                if d.get("kind") == "Race":
                    lines = current
            elif current is not None:
                current.append(d)
    return lines


def lap_reports(path):
    out = []
    if not os.path.exists(path):
        return out
    with open(path) as f:
        for line in f:
            parts = line.split(" ")
            if len(parts) < 2 or not parts[1].startswith("/qrd/lap.php?"):
                continue
            q = {k: v[0] for k, v in parse_qs(urlsplit(parts[1]).query).items()}
            try:
                out.append({"t": float(q["st"]), "lap": int(q["sl"]), "fuel": float(q["fl"]),
                            "burn": float(q["fbpl"]), "state": int(q["sst"])})
            except (KeyError, ValueError):
                continue
    return out


def reserve_liters(per_min, per_lap):
    return math.trunc(math.trunc(per_min + 0.9) + 2 * math.trunc(per_lap + 0.9))


def judge(scenario, out):
    r = {"name": scenario, "error": None}
    truth_path = os.path.join(out, "truth.txt")
    if not os.path.exists(truth_path):
        r["error"] = "no truth file"
        return r
    lines = race_truth(truth_path)
    if not lines:
        r["error"] = "no race in the truth file"
        return r
    session = lines[0]
    length = session["length"]
    lap_limited = session["laps"] > 0 or session.get("lapsFromPace", 0) == 1
    stints = [d for d in lines if d["ev"] == "STINT"]
    samples = [d for d in lines if d["ev"] == "SAMPLE"]
    laps = [d for d in lines if d["ev"] == "LAP"]
    r["stops"] = [d for d in lines if d["ev"] == "STOP"]
    r["dry"] = any(d["ev"] == "DRY" for d in lines)
    flag = next((d for d in lines if d["ev"] == "FLAG"), None)
    end = next((d for d in lines if d["ev"] == "SESSIONEND"), None)
    r["flag_fuel"] = flag["fuel"] if flag else None
    lowest = flag["lowest"] if flag else (end["lowest"] if end else -1)
    r["lowest"] = lowest

    # The plugin's burn at laps 2, 3 and 5 of each stint against the truth over the same metres.
    reports = [x for x in lap_reports(os.path.join(out, "service", "requests.log"))
               if x["state"] == 4]
    errors = []
    for i, stint in enumerate(stints):
        until = stints[i + 1]["t"] if i + 1 < len(stints) else float("inf")
        mine = [x for x in reports if stint["t"] <= x["t"] + 1 and x["t"] < until]
        mine = [x for x in mine if x["fuel"] <= stint["fuel"]]
        span = [s for s in samples if stint["t"] <= s["t"] <= until]
        for k in BURN_LAPS:
            if len(mine) < k:
                continue
            x = mine[k - 1]
            odo = None
            for a, b in zip(span, span[1:]):
                if a["fuel"] >= x["fuel"] >= b["fuel"]:
                    share = 0 if a["fuel"] == b["fuel"] else (a["fuel"] - x["fuel"]) / (
                        a["fuel"] - b["fuel"])
                    odo = a["odo"] + share * (b["odo"] - a["odo"])
                    break
            if odo is None or odo - stint["odo"] < 1:
                continue
            true_burn = (stint["fuel"] - x["fuel"]) / (odo - stint["odo"]) * length
            errors.append((abs(x["burn"] - true_burn) / true_burn * 100, i + 1, k, x["burn"],
                           true_burn))
    r["burn_errors"] = errors
    r["worst_burn"] = max((e[0] for e in errors), default=None)

    # Spare at the flag in laps of the last stint's true burn, and the bar: the reserve the
    # plugin adds (from the true burns) plus one lap.
    r["spare"] = None
    r["bar"] = None
    if flag and stints:
        last = [s for s in stints if s["t"] <= flag["t"]][-1]
        burn = (last["fuel"] - flag["fuel"]) / max(1.0, flag["odo"] - last["odo"]) * length
        lap_times = [b["t"] - a["t"] for a, b in zip(laps, laps[1:])]
        lap_time = sorted(lap_times)[len(lap_times) // 2] if lap_times else 60
        if burn > 0:
            r["spare"] = flag["fuel"] / burn
            if lap_limited:
                r["bar"] = reserve_liters(burn / (lap_time / 60), burn) / burn + 1
    r["lap_limited"] = lap_limited
    return r


def line_for(r):
    if r["error"]:
        return "%-17s FAILED: %s" % (r["name"], r["error"])
    stops = r["stops"]
    ordered = " ".join("%.0f" % s["ordered"] for s in stops) or "-"
    burn = "-" if r["worst_burn"] is None else "%.2f%%" % r["worst_burn"]
    if r["burn_errors"]:
        worst = max(r["burn_errors"])
        burn += " (stint %d lap %d: %.3f against %.3f l/lap)" % worst[1:]
    spare = "-" if r["spare"] is None else "%.2f laps" % r["spare"]
    if r["bar"] is not None:
        spare += " (bar %.2f%s)" % (r["bar"], ", OVER" if r["spare"] > r["bar"] else "")
    flag = "-" if r["flag_fuel"] is None else "%.1f l" % r["flag_fuel"]
    return ("%-17s stops %d (litres ordered: %s), fuel at flag %s, lowest %.1f l, dry %s, "
            "burn error %s, spare %s" % (r["name"], len(stops), ordered, flag, r["lowest"],
                                         "yes" if r["dry"] else "no", burn, spare))


# ---------------------------------------------------------------- the whole set

def isolated(cmd):
    if subprocess.run(["unshare", "--ipc", "--mount", "true"], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode == 0:
        return ["unshare", "--ipc", "--mount", "sh", "-c",
                'mount -t tmpfs tmpfs /dev/shm && exec "$@"', "sh"] + cmd
    return cmd


def main():
    ap = argparse.ArgumentParser(description="the plugin's race outcome against the truth")
    ap.add_argument("--short", action="store_true", help="the short set (CI)")
    ap.add_argument("--time-scale", type=float, default=10)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "linux-release", "bin"))
    ap.add_argument("--plugin", default=None, help="the plugin program (default: in --bin)")
    ap.add_argument("--out", default=None)
    ap.add_argument("--one", nargs=3, metavar=("SCENARIO", "OUT", "PORT"), help=argparse.SUPPRESS)
    ap.add_argument("--judge-only", action="store_true", help="judge the runs kept in --out")
    ap.add_argument("scenarios", nargs="*")
    a = ap.parse_args()
    bindir = os.path.abspath(a.bin)
    plugin_path = os.path.abspath(a.plugin or os.path.join(bindir, "Qm_Korvane_Plugin"))

    if a.one:
        scenario, out, port = a.one
        try:
            return run_one(scenario, out, int(port), a.time_scale, bindir, plugin_path)
        except (e2e_driver.Failure, e2e_driver.Skip) as e:
            print("outcome: %s: %s" % (scenario, e), file=sys.stderr)
            return 1

    names = a.scenarios or (SHORT if a.short else FULL)
    out = os.path.abspath(a.out or os.path.join(
        ROOT, "build", "outcome-out", time.strftime("%Y%m%d-%H%M%S")))
    os.makedirs(out, exist_ok=True)
    for program in (plugin_path, os.path.join(bindir, "Qm_Korvane_SimFeed"),
                    os.path.join(bindir, "Qm_Korvane_RaceData")):
        if not os.access(program, os.X_OK):
            print("outcome: %s not found (build linux-release first)" % program, file=sys.stderr)
            return 2
    failed = {}
    if not a.judge_only:
        started = time.time()
        pending = list(enumerate(names))
        running = {}
        while pending or running:
            while pending and len(running) < a.jobs:
                i, name = pending.pop(0)
                run_dir = os.path.join(out, name)
                shutil.rmtree(run_dir, ignore_errors=True)
                os.makedirs(run_dir)
                cmd = [sys.executable, os.path.abspath(__file__), "--time-scale",
                       str(a.time_scale), "--bin", bindir, "--plugin", plugin_path, "--one", name, run_dir,
                       str(FIRST_PORT + i)]
                log = open(os.path.join(run_dir, "run.log"), "w")
                running[name] = (subprocess.Popen(isolated(cmd), stdin=subprocess.DEVNULL,
                                                  stdout=log, stderr=subprocess.STDOUT), log)
            time.sleep(0.5)
            for name, (p, log) in list(running.items()):
                if p.poll() is not None:
                    log.close()
                    del running[name]
                    if p.returncode != 0:
                        with open(os.path.join(out, name, "run.log")) as f:
                            failed[name] = f.read().strip().splitlines()[-1:] or ["failed"]
        print("outcome: %d races at %gx in %.0f s, kept in %s"
              % (len(names), a.time_scale, time.time() - started, out))
    results = []
    for name in names:
        r = judge(name, os.path.join(out, name))
        if name in failed and not r["error"]:
            r["error"] = failed[name][0]
        results.append(r)
        print(line_for(r))
    dry = sum(1 for r in results if not r["error"] and r["dry"])
    worst = max((r["worst_burn"] for r in results if not r["error"] and r["worst_burn"] is not None),
                default=0.0)
    spare = max((r["spare"] for r in results if not r["error"] and r["spare"] is not None),
                default=0.0)
    print("outcome: %d scenarios, %d ran dry, worst burn error %.1f%%, most spare %.1f laps"
          % (len(results), dry, worst, spare))
    bad = any(r["error"] for r in results) or dry > 0 or worst > BURN_BAR
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The long race: the plugin in active mode through the simulator feed's two-hour race at a high
time scale, with the race-data service, the serial pit board and captured sound, run by the demo
script. Afterwards it checks what a long race must not do to a driver: no sanitizer report, no
lap without its report in the service's database, no memory growth after the first lap.

usage: soak.py [--bin DIR] [--time-scale X] [--out DIR] [--rss-limit-mb N] [--no-rss-limit]
Prints the figures and exits 0 when every check holds.
"""
import argparse
import os
import re
import sqlite3
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SANITIZER = re.compile(r"ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|"
                       r"WARNING: ThreadSanitizer|SUMMARY: \w+Sanitizer")
RACING = 4  # SessionState while the race is on


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", errors="replace")
    except FileNotFoundError:
        return ""


def rss_samples(path):
    start, samples = None, []
    for line in read(path).splitlines():
        if line.startswith("# start "):
            start = float(line.split()[2])
        elif line.strip():
            t, kb = line.split()
            samples.append((float(t), int(kb)))
    return start, samples


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(ROOT, "build", "linux-release", "bin"))
    parser.add_argument("--time-scale", default="60")
    parser.add_argument("--scenario", default="two_hour")
    parser.add_argument("--out")
    parser.add_argument("--rss-limit-mb", type=float, default=32.0)
    parser.add_argument("--growth-limit-mb", type=float, default=1.0)
    parser.add_argument("--no-rss-limit", action="store_true",
                        help="report memory but do not judge it (sanitizer builds)")
    opts = parser.parse_args()
    out = opts.out or os.path.join(ROOT, "build", "soak-out", time.strftime("%Y%m%d-%H%M%S"))
    problems = []

    env = dict(os.environ, KORVANE_BIN_DIR=os.path.abspath(opts.bin),
               KORVANE_DEMO_SOUND="capture", KORVANE_DEMO_RSS_LOG=os.path.join(out, "rss.log"))
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
    os.makedirs(out, exist_ok=True)
    began = time.time()
    with open(os.path.join(out, "demo.out"), "wb") as said:
        code = subprocess.call(["bash", os.path.join(ROOT, "tools", "demo", "run-demo.sh"),
                                "--scenario", opts.scenario, "--time-scale", opts.time_scale,
                                "--out", out], env=env, stdin=subprocess.DEVNULL, stdout=said,
                               stderr=subprocess.STDOUT)
    wall = time.time() - began
    if code != 0:
        problems.append("the race run ended with %d (see %s/demo.out)" % (code, out))

    texts = {name: read(os.path.join(out, name)) for name in
             ("plugin/console.txt", "demo.out", "simfeed.out", "service/service.out")}
    for name, text in texts.items():
        hit = SANITIZER.search(text)
        if hit:
            problems.append("sanitizer report in %s: %r" % (name, hit.group(0)))

    # Every lap of the race has its lap report: the plugin sends one at each approach to the pit
    # entry, so the laps a report covers must run without a gap from the first to the last.
    laps, reports, first_report_at = [], 0, None
    db_path = os.path.join(out, "service", "racedata.db")
    try:
        db = sqlite3.connect("file:%s?mode=ro" % db_path, uri=True)
        rows = db.execute("SELECT sl, received_at FROM lap_reports WHERE sst = ? "
                          "ORDER BY id", (RACING,)).fetchall()
        db.close()
        reports = len(rows)
        laps = sorted({int(r[0]) for r in rows})
        first_report_at = min((r[1] for r in rows), default=None)
    except sqlite3.Error as e:
        problems.append("cannot read %s: %s" % (db_path, e))
    missing = sorted(set(range(laps[0], laps[-1] + 1)) - set(laps)) if laps else []
    if not laps:
        problems.append("no lap report of the race was stored")
    elif missing:
        problems.append("laps without a stored report: %r" % missing)

    start, samples = rss_samples(os.path.join(out, "rss.log"))
    peak = max((kb for _, kb in samples), default=0) / 1024.0
    final = samples[-1][1] / 1024.0 if samples else 0.0
    # Sounds still being heard are live data, and at a high time scale messages overlap, so a
    # single sample says little. What the race keeps shows in the floor of each 10 s window:
    # anything not released raises every later floor.
    floors = []
    if samples and start is not None and first_report_at is not None:
        offset = first_report_at - start
        windows = {}
        for t, kb in samples:
            if t >= offset:
                w = int((t - offset) // 10)
                windows[w] = min(windows.get(w, kb), kb)
        floors = [windows[w] / 1024.0 for w in sorted(windows)]
    growth = max(floors) - floors[0] if floors else 0.0
    if not samples:
        problems.append("no memory samples")
    elif not opts.no_rss_limit:
        if peak > opts.rss_limit_mb:
            problems.append("peak resident memory %.1f MB is above %.0f MB" % (peak, opts.rss_limit_mb))
        if growth > opts.growth_limit_mb:
            problems.append("memory grew by %.2f MB after the first racing lap (10 s floors: %s)"
                            % (growth, " ".join("%.1f" % f for f in floors)))

    print("soak: %s at %sx, %.0f s of wall time, output in %s" % (opts.scenario, opts.time_scale,
                                                                  wall, out))
    print("soak: race laps with a stored lap report: %d (laps %s..%s), %d racing lap reports"
          % (len(laps), laps[0] if laps else "-", laps[-1] if laps else "-", reports))
    print("soak: resident memory peak %.1f MB, final %.1f MB (%d samples); 10 s floors after "
          "the first racing lap: first %s MB, highest %s MB, growth %.2f MB"
          % (peak, final, len(samples), "%.1f" % floors[0] if floors else "-",
             "%.1f" % max(floors) if floors else "-", growth))
    for p in problems:
        print("soak: FAILED: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

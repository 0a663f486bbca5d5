#!/usr/bin/env python3
"""The long race: the plugin in active mode through the simulator feed's two-hour race at a high
time scale, with the race-data service, the serial pit board and captured sound, run by the demo
script. Afterwards it checks what a long race must not do to a driver: no sanitizer report, no
lap without its report in the service's database, nothing kept in memory by the race once its
start-up is over.

usage: soak.py [--bin DIR] [--time-scale X] [--out DIR] [--rss-limit-mb N] [--growth-limit-mb N]
               [--no-rss-limit]
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
WINDOW_S = 10.0
# At 60x the first lap lasts under 2 s, less than the plugin's start-up: the session-join
# message is still being heard and the first secure answers are still pulling in the TLS
# library's pages. The reference floor is taken once that has passed.
STARTUP_S = 10.0
# The plugin is left this long after the race, still in its session, before the driver's key:
# once the last messages have been heard, what is still resident is what the race kept.
QUIET_S = 10.0


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", errors="replace")
    except FileNotFoundError:
        return ""


def rss_samples(path):
    """The start time, the race's end (seconds since the start) and the (seconds, VmRSS kB,
    RssAnon kB or None) samples of the demo's memory log."""
    start, race_over, samples = None, None, []
    for line in read(path).splitlines():
        if line.startswith("# start "):
            start = float(line.split()[2])
        elif line.startswith("# race over "):
            race_over = float(line.split()[3])
        elif line.strip():
            fields = line.split()
            anon = int(fields[2]) if len(fields) > 2 else None
            samples.append((float(fields[0]), int(fields[1]), anon))
    return start, race_over, samples


def window_floors(samples, since, column):
    """The lowest value of each 10 s window from `since` on, in MB."""
    windows = {}
    for sample in samples:
        t, kb = sample[0], sample[column]
        if t >= since and kb is not None:
            w = int((t - since) // WINDOW_S)
            windows[w] = min(windows.get(w, kb), kb)
    return [windows[w] / 1024.0 for w in sorted(windows)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(ROOT, "build", "linux-release", "bin"))
    parser.add_argument("--time-scale", default="60")
    parser.add_argument("--scenario", default="two_hour")
    parser.add_argument("--out")
    parser.add_argument("--rss-limit-mb", type=float, default=32.0)
    parser.add_argument("--growth-limit-mb", type=float, default=1.0,
                        help="the most memory the race may keep, in MB")
    parser.add_argument("--no-rss-limit", action="store_true",
                        help="report memory but do not judge it (sanitizer builds)")
    opts = parser.parse_args()
    out = opts.out or os.path.join(ROOT, "build", "soak-out", time.strftime("%Y%m%d-%H%M%S"))
    problems = []

    env = dict(os.environ, KORVANE_BIN_DIR=os.path.abspath(opts.bin),
               KORVANE_DEMO_SOUND="capture", KORVANE_DEMO_RSS_LOG=os.path.join(out, "rss.log"),
               KORVANE_DEMO_QUIET_S=str(QUIET_S))
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

    start, race_over, samples = rss_samples(os.path.join(out, "rss.log"))
    peak = max((kb for _, kb, _ in samples), default=0) / 1024.0
    final = samples[-1][1] / 1024.0 if samples else 0.0
    # Sounds still being heard are live data. At a high time scale the messages overlap (from
    # lap 41 there is one each lap, and a lap is shorter than a sentence), so even the floor of
    # a 10 s window during the race carries a sound or two. What the race kept shows once the
    # plugin has fallen quiet after it: the lowest sample of that spell, against the floor of
    # the first window after start-up.
    floors, kept, settled, after = [], {}, {}, {}
    if samples and start is not None and first_report_at is not None and race_over is not None:
        since = first_report_at - start + STARTUP_S
        racing = [x for x in samples if x[0] < race_over]
        quiet = [x for x in samples if x[0] >= race_over]
        for column, name in ((1, "resident"), (2, "allocated")):
            during = window_floors(racing, since, column)
            if column == 1:
                floors = during
            rest = [x[column] / 1024.0 for x in quiet if x[column] is not None]
            if during and rest:
                settled[name], after[name] = during[0], min(rest)
                kept[name] = after[name] - settled[name]
    if not samples:
        problems.append("no memory samples")
    elif race_over is None:
        problems.append("the memory log does not mark the race's end")
    elif "resident" not in kept:
        problems.append("too few memory samples after start-up or after the race")
    elif not opts.no_rss_limit:
        if peak > opts.rss_limit_mb:
            problems.append("peak resident memory %.1f MB is above %.0f MB" % (peak, opts.rss_limit_mb))
        for name in kept:
            if kept[name] > opts.growth_limit_mb:
                problems.append("the race kept %.2f MB: %.1f MB %s after it, %.1f MB after "
                                "start-up" % (kept[name], after[name], name, settled[name]))

    print("soak: %s at %sx, %.0f s of wall time, output in %s" % (opts.scenario, opts.time_scale,
                                                                  wall, out))
    print("soak: race laps with a stored lap report: %d (laps %s..%s), %d racing lap reports"
          % (len(laps), laps[0] if laps else "-", laps[-1] if laps else "-", reports))
    print("soak: resident memory peak %.1f MB, final %.1f MB (%d samples)"
          % (peak, final, len(samples)))
    for name in ("resident", "allocated"):
        if name in kept:
            print("soak: %s after start-up %.1f MB, after the race once quiet %.1f MB: "
                  "kept %.2f MB" % (name, settled[name], after[name], kept[name]))
    if floors:
        print("soak: resident 10 s floors during the race (with the sounds being heard): %s MB"
              % " ".join("%.1f" % f for f in floors))
    for p in problems:
        print("soak: FAILED: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

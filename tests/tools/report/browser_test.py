#!/usr/bin/env python3
"""The race report page as a browser builds it: a headless Chromium loads the page, and its DOM
must hold one point per stored lap with the stored values, the stop, and no failed load or
script error. Exits 77 (skipped) when there is no Chromium.

usage: browser_test.py REPORT_PROGRAM FIXTURE_PROGRAM
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def browser():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def attributes(element):
    return dict(re.findall(r'(data-[a-z-]+)="([^"]*)"', element))


def points(dom, tag, series):
    found = []
    for element in re.findall(r"<%s\b[^>]*>" % tag, dom):
        a = attributes(element)
        if a.get("data-series") == series:
            found.append(a)
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, fixture = sys.argv[1], sys.argv[2]
    chromium = browser()
    if not chromium:
        print("SKIP: no chromium on this machine")
        return SKIP
    folder = tempfile.mkdtemp(prefix="korvane_report_browser_")
    try:
        db = os.path.join(folder, "racedata.db")
        page = os.path.join(folder, "report.html")
        expected = subprocess.run([fixture, db], check=True, capture_output=True,
                                  text=True, timeout=60).stdout.split("\n")
        laps = [line.split()[1:] for line in expected if line.startswith("lap ")]
        stops = [line.split()[1:] for line in expected if line.startswith("stop ")]
        subprocess.run([program, "--db", db, "--out", page], check=True, timeout=60,
                       stdout=subprocess.DEVNULL)
        run = subprocess.run(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--user-data-dir=" + os.path.join(folder, "profile"), "--enable-logging=stderr",
             "--v=0", "--dump-dom", "file://" + page],
            capture_output=True, text=True, timeout=120)
        dom = run.stdout
        if run.returncode != 0 or "<svg" not in dom:
            fail("chromium did not render the page (exit %d):\n%s" % (run.returncode,
                                                                       run.stderr[-2000:]))
        # Page errors reach the browser's log as console messages.
        for line in run.stderr.splitlines():
            if "CONSOLE" in line or "Uncaught" in line or "ERR_FILE_NOT_FOUND" in line:
                fail("the page logged an error: " + line)
        for outside in ("<script", " src=", " href=", "url("):
            if outside in dom:
                fail("the page is not self-contained: it has " + outside)

        checks = [("fuel-level", 1, 0.0006), ("burn", 2, 0.006), ("burn-max", 3, 0.006),
                  ("laps-left", 4, 0.006)]
        for series, column, tolerance in checks:
            found = points(dom, "circle", series)
            # A lap without the plugin's FuelBurnMax yet has no point for it.
            want = [lap for lap in laps if float(lap[column]) >= 0]
            if len(found) != len(want):
                fail("%s: %d points in the DOM, %d laps stored" % (series, len(found), len(want)))
            for point, lap in zip(found, want):
                if point.get("data-lap") != lap[0]:
                    fail("%s: point for lap %s where lap %s was stored" %
                         (series, point.get("data-lap"), lap[0]))
                if abs(float(point["data-value"]) - float(lap[column])) > tolerance:
                    fail("%s lap %s: %s on the page, %s stored" %
                         (series, lap[0], point["data-value"], lap[column]))
        rows = [attributes(r) for r in re.findall(r"<tr\b[^>]*data-stop=[^>]*>", dom)]
        if [(r["data-lap"], r["data-liters-added"]) for r in rows] != \
                [(s[0], s[1]) for s in stops]:
            fail("stops on the page %s, stored %s" % (rows, stops))
        wear = points(dom, "rect", "tire-wear")
        if len(wear) != 8:
            fail("%d tire readings in the DOM, 8 expected (two stints)" % len(wear))
        print("ok: %d laps, %d stops, %d tire readings in the DOM" %
              (len(laps), len(stops), len(wear)))
        return 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

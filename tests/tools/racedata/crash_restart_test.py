#!/usr/bin/env python3
"""The race-data service killed without warning keeps every report it acknowledged.

usage: crash_restart_test.py SERVICE_BINARY
Reports are sent while a second client keeps the service busy; the service is killed with
SIGKILL right after an acknowledgement, then the database is counted and the service is
started again on it.
"""
import os
import shutil
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

LAP_FIELDS = ("sid sli sst tid cid did sat stt cat ctt psv sl slr st str fs fl fu fta fn fbpl "
              "fbpm sft pos llt fbm tlu").split()
REAL_FIELDS = set("sat stt cat ctt fs fl fu fta fn fbpl fbpm llt fbm".split())


def lap_report(st, fbm="2.50"):
    values = []
    for key in LAP_FIELDS:
        if key == "st":
            value = str(st)
        elif key == "fbm":
            value = fbm
        elif key == "fs":
            value = "60.0"  # a tank that holds the burns below
        else:
            value = "1.00" if key in REAL_FIELDS else "7"
        values.append(f"{key}={value}")
    return "/qrd/lap.php?" + "&".join(values)


def start(service, folder):
    port_file = os.path.join(folder, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    process = subprocess.Popen(
        [service, "--bind", "127.0.0.1", "--port", "0", "--port-file", port_file,
         "--database", os.path.join(folder, "racedata.db"), "--files", folder, "--rate", "0"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 20
    while not os.path.exists(port_file):
        if process.poll() is not None or time.monotonic() > deadline:
            process.kill()
            raise SystemExit("the service did not start")
        time.sleep(0.05)
    with open(port_file) as f:
        port = int(f.read())
    context = ssl.create_default_context(cafile=os.path.join(folder, "racedata.crt"))
    return process, port, context


def get(port, context, path):
    with urllib.request.urlopen(f"https://127.0.0.1:{port}{path}", context=context,
                                timeout=10) as answer:
        return answer.status, answer.read().decode()


def main():
    service = sys.argv[1]
    # A mistyped option is an error, never a default or a port picked at random.
    for bad in (["--port", "abc"], ["--port", "70000"], ["--rate", "-1"], ["--threads", "4x"]):
        result = subprocess.run([service] + bad, capture_output=True, text=True, timeout=20)
        if result.returncode != 2 or "wants a whole number" not in result.stderr:
            raise SystemExit(f"{bad} gave {result.returncode}: {result.stderr!r}")
    folder = tempfile.mkdtemp(prefix="korvane-racedata-crash.")
    process = None
    try:
        process, port, context = start(service, folder)
        acknowledged = 0
        stop = threading.Event()

        def busy():
            while not stop.is_set():
                try:
                    get(port, context, "/qrd/api.php?c=getpreviousfuelburn&cid=7&tid=7&did=7&sft=7")
                except OSError:
                    return

        other = threading.Thread(target=busy)
        other.start()
        for st in range(150):
            status, body = get(port, context, lap_report(st, "3.75" if st == 149 else "2.50"))
            if status == 200 and body == "1":
                acknowledged += 1
        process.kill()  # no chance to close the database
        process.wait()
        stop.set()
        other.join()

        with sqlite3.connect(os.path.join(folder, "racedata.db")) as db:
            stored = db.execute("SELECT COUNT(*) FROM lap_reports").fetchone()[0]
        if acknowledged != 150 or stored != acknowledged:
            raise SystemExit(f"acknowledged {acknowledged}, stored {stored} after the kill")

        process, port, context = start(service, folder)
        status, body = get(port, context,
                           "/qrd/api.php?c=getpreviousfuelburn&cid=7&tid=7&did=7&sft=7")
        if (status, body) != (200, "3.75"):
            raise SystemExit(f"after the restart the service answered {status} {body!r}")
        print(f"{stored} acknowledged reports survived the kill and the restart")
    finally:
        if process is not None and process.poll() is None:
            process.terminate()
            process.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()

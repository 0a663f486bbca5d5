#!/usr/bin/env python3
"""The race-data service program killed without warning loses no acknowledged report.

usage: service_process_test.py crash_restart|multi_instance SERVICE_BINARY

crash_restart: reports are sent over HTTPS while a second client keeps the service busy; the service
is killed with SIGKILL right after an acknowledgement, the database is counted, and the
service started again on it answers from every report.

multi_instance: two instances on one PostgreSQL database (a throw-away cluster: its own folder, a
unix socket only, run as "nobody" when the test runs as root) answer as one service would.
100 clients send 50 reports each, spread over both instances, and every report also to a
single instance on SQLite for reference; one of the two is killed part-way and started again.
A client whose report got no answer sends it again, to either instance. Afterwards every report
is stored exactly once, and both instances give the reference's answer to every question.
Exits 77 (skipped) without PostgreSQL.
"""
import glob
import os
import pwd
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "support"))
from e2e_driver import RaceDataService, report_path  # noqa: E402

CLIENTS = 100
REPORTS = 50
BURN_QUESTION = "/qrd/api.php?c=getpreviousfuelburn&cid=%d&tid=252&did=%d&sft=1"


REAL_FIELDS = "sat stt cat ctt fl fu fta fn fbpl fbpm llt fbm".split()


def report(values, data=False):
    """A lap (or data) report of `values`, every other field 1.00 or 7; a tank of 60 L holds
    the burns these tests send."""
    base = dict({k: "1.00" for k in REAL_FIELDS}, tid=252, sft=1, fs="60.0")
    return report_path(dict(base, **values), data, default=7)


def crash(service_exe):
    # A mistyped option is an error, never a default or a port picked at random.
    for bad in (["--port", "abc"], ["--port", "65536"], ["--rate", "-1"], ["--threads", "4x"]):
        result = subprocess.run([service_exe] + bad, capture_output=True, text=True, timeout=20)
        if result.returncode != 2 or "wants a whole number" not in result.stderr:
            raise SystemExit(f"{bad} gave {result.returncode}: {result.stderr!r}")
    folder = tempfile.mkdtemp(prefix="korvane-racedata-crash.")
    service = RaceDataService(service_exe, folder, secure=True)
    try:
        acknowledged = 0
        stop = threading.Event()

        def busy():
            while not stop.is_set():
                try:
                    service.get(BURN_QUESTION % (7, 7))
                except OSError:
                    return

        other = threading.Thread(target=busy)
        other.start()
        for st in range(150):
            burn = "3.75" if st == 149 else "2.50"
            acknowledged += service.get(report({"cid": 7, "did": 7, "st": st, "fbm": burn})) == "1"
        service.proc.kill()  # no chance to close the database
        service.stop()
        stop.set()
        other.join()

        with sqlite3.connect(service.database) as db:
            stored = db.execute("SELECT COUNT(*) FROM lap_reports").fetchone()[0]
        if acknowledged != 150 or stored != acknowledged:
            raise SystemExit(f"acknowledged {acknowledged}, stored {stored} after the kill")

        service = RaceDataService(service_exe, folder, secure=True)
        answer = service.get(BURN_QUESTION % (7, 7))
        if answer != "3.75":
            raise SystemExit(f"after the restart the service answered {answer!r}")
        print(f"{stored} acknowledged reports survived the kill and the restart")
    finally:
        service.stop()
        shutil.rmtree(folder, ignore_errors=True)


class Cluster:
    """initdb and postgres in a folder of their own, stopped and removed by stop()."""

    def __init__(self):
        bins = sorted(glob.glob("/usr/lib/postgresql/*/bin/postgres"))
        if not bins:
            print("PostgreSQL is not installed (./dev.sh setup installs it): skipped")
            sys.exit(77)
        self.bin = os.path.dirname(bins[-1])
        self.folder = tempfile.mkdtemp(prefix="korvane-pg.")
        os.chmod(self.folder, 0o755)
        self.root = os.geteuid() == 0
        if self.root:
            nobody = pwd.getpwnam("nobody")
            os.chown(self.folder, nobody.pw_uid, nobody.pw_gid)
        port = 42400 + os.getpid() % 50
        self.data = self.folder + "/data"
        self.run("initdb", "-D", self.data, "-U", "korvane", "-A", "trust", "--no-sync")
        self.run("pg_ctl", "start", "-w", "-D", self.data, "-l", self.folder + "/server.log",
                 "-o", f"-p {port} -k {self.folder} -c listen_addresses= "
                       "-c fsync=off -c max_connections=200")
        self.uri = f"postgresql://korvane@/postgres?host={self.folder}&port={port}"

    def run(self, program, *args):
        command = [f"{self.bin}/{program}", *args]
        if self.root:
            command = ["runuser", "-u", "nobody", "--"] + command
        subprocess.run(command, check=True, cwd=self.folder, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def sql(self, statement):
        result = subprocess.run([f"{self.bin}/psql", self.uri, "-Atc", statement], check=True,
                                capture_output=True, text=True, timeout=60)
        return result.stdout.strip()

    def stop(self):
        try:
            self.run("pg_ctl", "stop", "-D", self.data, "-m", "immediate", "-w")
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)


def client_report(client, r):
    """Client `client`'s report number `r`: a data report every fifth, else a lap report."""
    wear = f"{1 - r * 0.003 - client % 4 * 0.01:.2f}"
    return report({"sid": 900 + client % 10, "did": client, "cid": 67 + client % 3,
                   "st": 100 + r * 60, "fl": "30.000", "fta": "20.00", "fbpl": "2.50",
                   "fbm": f"2.{(client * 7 + r) % 100:02d}",
                   "ctt": f"{20 + r * 0.1 + client % 7:.2f}", "tlu": r * 4000,
                   "wlf": wear, "wrf": wear, "wlr": wear, "wrr": wear}, data=r % 5 == 4)


def questions(client):
    sid = 900 + client % 10
    return [BURN_QUESTION % (67 + client % 3, client),
            f"/qrd/api.php?c=qrdtireschange&s={client}&r={sid}&f=4000",
            f"/qrd/api.php?c=qrdweatherchange&s={client}&r={sid}&f=4000"]


def instances(service_exe):
    cluster = Cluster()
    folder = tempfile.mkdtemp(prefix="korvane-racedata-multi.")
    busy = ["--max-connections", "1000"]
    started = []
    try:
        a, b = (RaceDataService(service_exe, os.path.join(folder, name), database=cluster.uri,
                                extra=busy) for name in "ab")
        reference = RaceDataService(service_exe, os.path.join(folder, "one"), extra=busy)
        started = [a, b, reference]
        shared = [a, b]
        acknowledged = [0]
        resent = [0]
        lock = threading.Lock()
        failures = []

        def send(c, r, path):
            # Until one of the two acknowledges it: a refused or unanswered report is sent again.
            for attempt in range(200):
                try:
                    if shared[(c + r + attempt) % 2].get(path) == "1":
                        with lock:
                            acknowledged[0] += 1
                            resent[0] += attempt > 0
                        return
                except OSError:
                    time.sleep(0.02)
            failures.append(f"client {c} report {r} never acknowledged")

        def client(c):
            for r in range(REPORTS):
                path = client_report(c, r)
                send(c, r, path)
                if r == 10:
                    send(c, r, path)  # as a client does whose answer was lost on the way
                if reference.get(path) != "1":
                    failures.append(f"reference refused client {c} report {r}")

        threads = [threading.Thread(target=client, args=(c,)) for c in range(CLIENTS)]
        for t in threads:
            t.start()
        while acknowledged[0] < CLIENTS * REPORTS // 3:
            time.sleep(0.01)
        a.proc.kill()  # mid-run, requests in flight
        a.stop()
        killed_at = acknowledged[0]
        time.sleep(0.3)
        # Started again where the clients look for it.
        shared[0] = RaceDataService(service_exe, a.folder, database=cluster.uri, port=a.port,
                                    extra=busy)
        started.append(shared[0])
        for t in threads:
            t.join()
        if failures:
            raise SystemExit("\n".join(failures[:10]))

        laps = CLIENTS * REPORTS * 4 // 5
        stored = (int(cluster.sql("SELECT COUNT(*) FROM lap_reports")),
                  int(cluster.sql("SELECT COUNT(*) FROM data_reports")))
        twice = cluster.sql("SELECT COUNT(*) FROM (SELECT did, st FROM lap_reports GROUP BY did,"
                            " st HAVING COUNT(*) > 1 UNION ALL SELECT did, st FROM data_reports"
                            " GROUP BY did, st HAVING COUNT(*) > 1) t")
        if stored != (laps, CLIENTS * REPORTS - laps) or twice != "0":
            raise SystemExit(f"stored {stored} lap and data reports ({twice} twice), "
                             f"sent {laps} and {CLIENTS * REPORTS - laps}")

        differ = []
        for c in range(CLIENTS):
            for path in questions(c):
                answers = [instance.get(path) for instance in shared + [reference]]
                if len(set(answers)) != 1:
                    differ.append(f"{path}: {answers}")
        if differ:
            raise SystemExit(f"{len(differ)} answers differ, e.g.\n" + "\n".join(differ[:5]))
        print(f"{acknowledged[0]} reports acknowledged ({resent[0]} after a retry, instance a "
              f"killed after {killed_at} and restarted), each stored once; "
              f"{CLIENTS * 3} questions answered alike by both instances and by one on SQLite")
    finally:
        for instance in started:
            instance.stop()
        cluster.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    {"crash_restart": crash, "multi_instance": instances}[sys.argv[1]](sys.argv[2])

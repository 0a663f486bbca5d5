#!/usr/bin/env python3
"""Two service instances on one PostgreSQL database answer as one service would.

usage: multi_instance_test.py SERVICE_BINARY
A throw-away PostgreSQL cluster (its own folder, a unix socket only, run as "nobody" when the
test runs as root) holds the database. 100 clients send 50 reports each, spread over both
instances, and every report also to a single instance on SQLite for reference; one of the two
is killed without warning part-way and started again. A client whose report got no answer
sends it again, to either instance. Afterwards every report is stored exactly once, and both
instances give the reference's answer to every question. Exits 77 (skipped) without PostgreSQL.
"""
import glob
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

CLIENTS = 100
REPORTS = 50
LAP_FIELDS = ("sid sli sst tid cid did sat stt cat ctt psv sl slr st str fs fl fu fta fn fbpl "
              "fbpm sft pos llt fbm tlu").split()
DATA_FIELDS = LAP_FIELDS[:23] + ("wlf tlf phlf pclf wrf trf phrf pcrf wlr tlr phlr pclr wrr trr "
                                 "phrr pcrr pos llt fbm").split()
REAL_FIELDS = set("sat stt cat ctt fs fl fu fta fn fbpl fbpm llt fbm".split())


def report(client, r):
    """Client `client`'s report number `r`: a data report every fifth, else a lap report."""
    values = {"sid": 900 + client % 10, "did": client, "cid": 67 + client % 3, "tid": 252,
              "sft": 1, "st": 100 + r * 60, "fs": "60.0", "fl": "30.000", "fta": "20.00",
              "fbpl": "2.50", "fbm": f"2.{(client * 7 + r) % 100:02d}",
              "ctt": f"{20 + r * 0.1 + client % 7:.2f}", "tlu": r * 4000}
    data = r % 5 == 4
    for key in ("wlf", "wrf", "wlr", "wrr"):
        values[key] = f"{1 - r * 0.003 - client % 4 * 0.01:.2f}"
    fields = DATA_FIELDS if data else LAP_FIELDS
    query = "&".join(f"{k}={values.get(k, '1.00' if k in REAL_FIELDS else 7)}" for k in fields)
    return ("/qrd/data.php?" if data else "/qrd/lap.php?") + query


def questions(client):
    sid = 900 + client % 10
    return [f"/qrd/api.php?c=getpreviousfuelburn&cid={67 + client % 3}&tid=252&did={client}&sft=1",
            f"/qrd/api.php?c=qrdtireschange&s={client}&r={sid}&f=4000",
            f"/qrd/api.php?c=qrdweatherchange&s={client}&r={sid}&f=4000"]


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
        self.port = 42400 + os.getpid() % 50
        self.run("initdb", "-D", self.data(), "-U", "korvane", "-A", "trust", "--no-sync")
        self.run("pg_ctl", "start", "-w", "-D", self.data(), "-l", self.folder + "/server.log",
                 "-o", f"-p {self.port} -k {self.folder} -c listen_addresses= "
                       "-c fsync=off -c max_connections=200")
        self.uri = f"postgresql://korvane@/postgres?host={self.folder}&port={self.port}"

    def data(self):
        return self.folder + "/data"

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
            self.run("pg_ctl", "stop", "-D", self.data(), "-m", "immediate", "-w")
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)


class Instance:
    def __init__(self, service, folder, database, name):
        self.service, self.folder, self.database, self.name = service, folder, database, name
        self.port = 0
        self.process = None

    def start(self):
        port_file = os.path.join(self.folder, self.name + ".port")
        if os.path.exists(port_file):
            os.remove(port_file)
        self.process = subprocess.Popen(
            [self.service, "--plain", "--port", str(self.port), "--port-file", port_file,
             "--database", self.database, "--files", self.folder, "--rate", "0",
             "--max-connections", "1000"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise SystemExit(f"instance {self.name} did not start")
            time.sleep(0.02)
        with open(port_file) as f:
            self.port = int(f.read())  # kept: a restart listens where the clients look

    def get(self, path):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}{path}", timeout=10) as answer:
            return answer.status, answer.read().decode()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait()


def main():
    service = sys.argv[1]
    cluster = Cluster()
    folder = tempfile.mkdtemp(prefix="korvane-racedata-multi.")
    instances = []
    try:
        shared = cluster.uri
        a = Instance(service, folder, shared, "a")
        b = Instance(service, folder, shared, "b")
        reference = Instance(service, folder, os.path.join(folder, "one.db"), "one")
        instances = [a, b, reference]
        for instance in instances:
            instance.start()

        acknowledged = [0]
        resent = [0]
        lock = threading.Lock()
        failures = []

        def send(c, r, path):
            # Until one of the two acknowledges it: a refused or unanswered report is sent again.
            for attempt in range(200):
                instance = (a, b)[(c + r + attempt) % 2]
                try:
                    if instance.get(path) == (200, "1"):
                        with lock:
                            acknowledged[0] += 1
                            resent[0] += attempt > 0
                        return
                except (OSError, urllib.error.URLError):
                    time.sleep(0.02)
            failures.append(f"client {c} report {r} never acknowledged")

        def client(c):
            for r in range(REPORTS):
                path = report(c, r)
                send(c, r, path)
                if r == 10:
                    send(c, r, path)  # as a client does whose answer was lost on the way
                if reference.get(path) != (200, "1"):
                    failures.append(f"reference refused client {c} report {r}")

        threads = [threading.Thread(target=client, args=(c,)) for c in range(CLIENTS)]
        for t in threads:
            t.start()
        while acknowledged[0] < CLIENTS * REPORTS // 3:
            time.sleep(0.01)
        a.process.send_signal(signal.SIGKILL)  # mid-run, requests in flight
        a.process.wait()
        killed_at = acknowledged[0]
        time.sleep(0.3)
        a.start()
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
                answers = {instance.name: instance.get(path) for instance in instances}
                if len(set(answers.values())) != 1:
                    differ.append(f"{path}: {answers}")
        if differ:
            raise SystemExit(f"{len(differ)} answers differ, e.g.\n" + "\n".join(differ[:5]))
        print(f"{acknowledged[0]} reports acknowledged ({resent[0]} after a retry, instance a "
              f"killed after {killed_at} and restarted), each stored once; "
              f"{CLIENTS * 3} questions answered alike by both instances and by one on SQLite")
    finally:
        for instance in instances:
            instance.stop()
        cluster.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()

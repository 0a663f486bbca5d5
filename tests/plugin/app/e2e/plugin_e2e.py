#!/usr/bin/env python3
"""Runs Qm_Korvane_Plugin end to end in a scratch working directory and checks what a driver
sees and what the log keeps: the banner and status tags, the wait for the simulator, the
orderly shutdown on a key and the immediate exit on ctrl-c.

Linux: the plugin runs on a pseudo-terminal; a key and ctrl-c are typed into it.
Windows (--wine): the plugin runs under Wine below pipe_driver.exe, which hands it a Windows
pipe as its input and sends the key when told to; ctrl-c is SIGINT, which Wine turns into the
console's ctrl-c event.

Exit code 0 when every run passed, 1 on a failure, 77 (skipped) when a simulator is running
on this machine, so that the plugin cannot be seen waiting for one.
"""
import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ESC = "\x1b"
OK = " [" + ESC + "[32m  OK  " + ESC + "[0m]  "
INIT = " [" + ESC + "[32m INIT " + ESC + "[0m]  "
WAIT = " [" + ESC + "[33m WAIT " + ESC + "[0m]  "
BANNER = (" Brenvik Korvane Plugin (Release 3.014)\n Fuel & Tire Adaptive Analytics\n"
          " Vantreau Edition\n")
WAITING_FOR_SIM = WAIT + "No connection to iRacing.. (Waiting for the sim)"
CONNECTED = OK + "Connected to iRacing."
SHUTTING_DOWN = " [ INFO ]  Shutting down." + " " * 39 + "\n"
ENGINE_CLOSED = " [ FMOD ]  Audio engine closed.\n"
CTRL_C = "\n\n Recieved ctrl-c, Exiting\n\n"
START_LINE = re.compile(r"^KV: \d+ :  Starting Up. $")


class Skip(Exception):
    pass


class Failure(Exception):
    pass


def clean(text):
    """The console text without CR and without Wine's cursor-visibility sequences."""
    text = text.replace("\r", "")
    return re.sub(ESC + r"\[\?25[hl]", "", text)


class Run:
    """One plugin process with its console output collected as it comes."""

    def __init__(self, args, workdir, env):
        self.args = args
        self.workdir = workdir
        self.env = env
        self.raw = b""

    def text(self):
        return clean(self.raw.decode("utf-8", "replace"))

    def pump(self, seconds, until=None):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if until is not None and until in self.text():
                return True
            r, _, _ = select.select([self.fd], [], [], 0.1)
            if not r:
                if self.exited():
                    break
                continue
            try:
                data = os.read(self.fd, 65536)
            except OSError:  # the pty's other side has gone
                data = b""
            if not data:
                break
            self.raw += data
        return until is not None and until in self.text()

    def wait_for(self, part, seconds):
        if not self.pump(seconds, part):
            if CONNECTED in self.text():
                raise Skip("a simulator is running on this machine")
            raise Failure("no %r within %d s; console so far:\n%s" % (part, seconds, self.text()))


class PtyRun(Run):
    def start(self):
        import pty
        pid, fd = pty.fork()
        if pid == 0:
            try:
                os.chdir(self.workdir)
                os.execve(self.args[0], self.args, self.env)
            finally:
                os._exit(127)
        self.pid, self.fd = pid, fd
        self.status = None

    def exited(self):
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.status = status
        return self.status is not None

    def press_key(self):
        os.write(self.fd, b"q")

    def ctrl_c(self):
        os.write(self.fd, b"\x03")  # the terminal turns it into SIGINT

    def finish(self, seconds):
        self.pump(seconds)
        deadline = time.time() + seconds
        while not self.exited() and time.time() < deadline:
            time.sleep(0.05)
        if not self.exited():
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
            raise Failure("the plugin did not end; console:\n" + self.text())
        os.close(self.fd)
        if os.WIFSIGNALED(self.status):
            raise Failure("the plugin died of signal %d" % os.WTERMSIG(self.status))
        return os.WEXITSTATUS(self.status)


class WineRun(Run):
    def __init__(self, args, workdir, env, wine_run, driver):
        super().__init__(args, workdir, env)
        self.wine_run = wine_run
        self.driver = driver
        self.trigger = os.path.join(workdir, "press_key")

    def start(self):
        windows_exe = "Z:" + os.path.abspath(self.args[0]).replace("/", "\\")
        command = [self.wine_run, self.driver, "press_key", "120", windows_exe] + self.args[1:]
        self.proc = subprocess.Popen(command, cwd=self.workdir, env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        self.fd = self.proc.stdout.fileno()

    def exited(self):
        return self.proc.poll() is not None

    def press_key(self):
        open(self.trigger, "w").close()

    def plugin_pids(self):
        """The Wine processes of this run whose program is the plugin."""
        sid = os.getsid(self.proc.pid)
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                if os.getsid(int(entry)) != sid:
                    continue
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    argv0 = f.read().split(b"\0")[0]
            except OSError:
                continue
            if argv0.lower().endswith(b"qm_korvane_plugin.exe"):
                pids.append(int(entry))
        return pids

    def ctrl_c(self):
        pids = self.plugin_pids()
        if not pids:
            raise Failure("cannot find the plugin's process under Wine")
        for pid in pids:
            os.kill(pid, signal.SIGINT)
        # pipe_driver waits for its trigger; once the plugin has gone, let it collect the
        # plugin's exit code.
        deadline = time.time() + 30
        while self.plugin_pids() and time.time() < deadline:
            self.pump(0.1)
        open(self.trigger, "w").close()

    def finish(self, seconds):
        self.pump(seconds)
        try:
            code = self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()
            raise Failure("the plugin did not end; console:\n" + self.text())
        self.pump(1)
        return code


def read_log(workdir):
    path = os.path.join(workdir, "Qm_Korvane_Plugin.log")
    if not os.path.exists(path):
        raise Failure("no Qm_Korvane_Plugin.log in the working directory")
    with open(path, "r", newline=None) as f:
        return f.read().splitlines()


def expect(condition, message, run):
    if not condition:
        raise Failure(message + "; console:\n" + run.text())


def in_order(text, parts):
    at = 0
    for part in parts:
        found = text.find(part, at)
        if found < 0:
            return part
        at = found + len(part)
    return None


def scenario_key(make_run, settings, args, passive):
    run = make_run(args, settings)
    run.start()
    run.wait_for(WAITING_FOR_SIM, 90)
    # Waiting, not ending: the loop goes on without the simulator.
    run.pump(1.5)
    expect(not run.exited(), "the plugin ended while waiting for the simulator", run)
    text = run.text()
    if passive:
        before = [BANNER, OK + "Setting Serial Offline.", BANNER, OK + "Plugin Mode: Passive\n",
                  WAITING_FOR_SIM]
        expect("Initialising." not in text, "passive mode printed \"Initialising.\"", run)
        expect("[ FMOD ]" not in text, "passive mode printed audio lines", run)
    else:
        before = [BANNER, OK + "Initialising.",
                  "\n [ FMOD ]  Using predefined audio interface: 3\n",
                  INIT + "Adjusting...\n", BANNER, OK + "Plugin Mode: Active\n",
                  WAITING_FOR_SIM]
    missing = in_order(text, before)
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", help="tools/wine-run.sh: run the Windows build under Wine")
    parser.add_argument("--driver", help="pipe_driver.exe for the Windows build")
    parser.add_argument("--scratch", default=None, help="where the working directories go")
    opts = parser.parse_args()

    if not opts.wine and os.path.exists("/dev/shm/IRSDKMemMapFileName"):
        print("SKIP: a simulator block exists on this machine")
        return 77

    env = dict(os.environ)
    env["TERM"] = env.get("TERM", "xterm")
    # The audio engine, whichever is linked, must not need a sound card here.
    env.setdefault("KORVANE_AUDIO_BACKEND", "capture")
    scratch_root = opts.scratch or tempfile.gettempdir()
    os.makedirs(scratch_root, exist_ok=True)
    dirs = []

    def make_run(args, settings):
        workdir = tempfile.mkdtemp(prefix="plugin_e2e_", dir=scratch_root)
        dirs.append(workdir)
        with open(os.path.join(workdir, "Qm_Korvane_Launcher.ini"), "w") as f:
            f.write(settings)
        run_env = dict(env)
        run_env["KORVANE_AUDIO_CAPTURE"] = os.path.join(workdir, "capture.wav")
        argv = [os.path.abspath(opts.exe)] + args
        if opts.wine:
            return WineRun(argv, workdir, run_env, opts.wine, opts.driver)
        return PtyRun(argv, workdir, run_env)

    scenarios = [
        ("active run ends on a key", lambda: scenario_key(
            make_run, "[Setup]\nSetupComplete=1\n", ["3"], passive=False)),
        ("passive run ends on a key", lambda: scenario_key(
            make_run, "[Setup]\nPassiveMode=1\n", [], passive=True)),
        ("ctrl-c ends the run at once", lambda: scenario_ctrl_c(
            make_run, "[Setup]\nSetupComplete=1\n", ["3"])),
    ]
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

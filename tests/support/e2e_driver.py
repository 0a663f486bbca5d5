"""Driving the build's programs end to end: the plugin on a pseudo-terminal (Linux) or under
Wine below pipe_driver.exe (Windows), the simulator feed beside it, and the console texts that
every end-to-end script looks for.

Imported by tests/plugin/app/e2e/plugin_e2e.py, tests/plugin/analytics/e2e/snapshot_feed_e2e.py
and tests/e2e/race_engineering/race_engineering_e2e.py.
"""
import fcntl
import os
import re
import select
import signal
import struct
import subprocess
import termios
import time

ESC = "\x1b"
OK = " [" + ESC + "[32m  OK  " + ESC + "[0m]  "
INIT = " [" + ESC + "[32m INIT " + ESC + "[0m]  "
WAIT = " [" + ESC + "[33m WAIT " + ESC + "[0m]  "
WAITING_FOR_SIM = WAIT + "No connection to iRacing.. (Waiting for the sim)"
CONNECTED = OK + "Connected to iRacing."


class Skip(Exception):
    pass


class Failure(Exception):
    pass


def clean(text):
    """The console text without CR and without Wine's cursor-visibility sequences."""
    text = text.replace("\r", "")
    return re.sub(ESC + r"\[\?25[hl]", "", text)


def to_windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def expect(condition, message, run):
    if not condition:
        raise Failure(message + "; console:\n" + run.text())


def in_order(text, parts):
    """The first of `parts` not found after the one before it; None when all are in order."""
    at = 0
    for part in parts:
        found = text.find(part, at)
        if found < 0:
            return part
        at = found + len(part)
    return None


def prepare_wine(wine_run, driver):
    """Creates the build's Wine prefix and its null graphics driver before anything runs in it.

    tools/wine-run.sh does this on the first start in a prefix, but two programs started
    together into a fresh prefix both boot it, and one of them may come up in a session that
    chose its graphics driver before the null driver was set: that program cannot create the
    hidden window of the simulator's broadcast message, and a feed started that way never
    publishes. pipe_driver.exe without arguments only prints its usage, so one run of it
    leaves a ready prefix for the programs that follow."""
    subprocess.run([wine_run, driver], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)


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
                # A wide terminal: the status row is cut to the terminal's width, and the
                # checks read it whole.
                fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 240, 0, 0))
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

    def type_line(self, text):
        os.write(self.fd, text.encode() + b"\n")

    def ctrl_c(self):
        os.write(self.fd, b"\x03")  # the terminal turns it into SIGINT

    def kill(self):
        if not self.exited():
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
            self.status = 0

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
        self.wine_run = os.path.abspath(wine_run)
        self.driver = os.path.abspath(driver)
        self.trigger = os.path.join(workdir, "press_key")

    def start(self):
        command = [self.wine_run, self.driver, "press_key", "120",
                   to_windows(self.args[0])] + self.args[1:]
        self.proc = subprocess.Popen(command, cwd=self.workdir, env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        self.fd = self.proc.stdout.fileno()

    def exited(self):
        return self.proc.poll() is not None

    def press_key(self):
        open(self.trigger, "w").close()

    def kill(self):
        if not self.exited():
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()

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


def plugin_run(argv, workdir, env, wine_run=None, driver=None):
    """The plugin's run on this platform: below pipe_driver under Wine, else on a pty."""
    argv = [os.path.abspath(argv[0])] + list(argv[1:])
    if wine_run:
        return WineRun(argv, workdir, env, wine_run, driver)
    return PtyRun(argv, workdir, env)


class FeedProcess:
    """The simulator feed in its own process group, under Wine when `wine_run` is given.

    Absolute paths among the arguments become Windows paths for the Windows build; relative
    ones are taken from `workdir`, the feed's working directory."""

    def __init__(self, exe, workdir, args, wine_run=None, output=None):
        if wine_run:
            args = [to_windows(a) if a.startswith("/") else a for a in args]
            command = [os.path.abspath(wine_run), os.path.abspath(exe)] + args
        else:
            command = [os.path.abspath(exe)] + args
        self.out = open(output or os.path.join(workdir, "feed.out"), "w")
        self.proc = subprocess.Popen(command, cwd=workdir, stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=subprocess.STDOUT,
                                     start_new_session=True)

    def ended(self):
        return self.proc.poll() is not None

    def stop(self, stop_file=None, seconds=15):
        """Ends the feed: through its stop file when it has one (so that its recording is
        finished), then SIGTERM, then SIGKILL."""
        if stop_file:
            open(stop_file, "w").close()
            try:
                self.proc.wait(seconds)
            except subprocess.TimeoutExpired:
                pass
        for sig, wait in ((signal.SIGTERM, 10), (signal.SIGKILL, None)):
            if self.proc.poll() is not None:
                break
            os.killpg(self.proc.pid, sig)
            try:
                self.proc.wait(wait)
            except subprocess.TimeoutExpired:
                pass
        self.out.close()

    def kill(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()
        self.out.close()

"""Driving the build's programs end to end: the plugin or the launcher on a pseudo-terminal
(Linux) or under Wine below pipe_driver.exe (Windows), the simulator feed and the race-data
service beside it, the console texts every end-to-end script looks for, and the tones heard in
a captured sound.

The one driver of every end-to-end script under tests/ (and of tools/demo's checks).
"""
import fcntl
import math
import os
import re
import select
import signal
import struct
import subprocess
import termios
import time
import wave

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


def read_text(path):
    """The file's text, or "" when there is no such file."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", errors="replace")
    except FileNotFoundError:
        return ""


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
    """Readies the build's Wine prefix before anything runs in it: two programs started together
    into a fresh prefix may both boot it, one in a session without the null graphics driver,
    where a feed cannot create the hidden window of the simulator's broadcast and never
    publishes. pipe_driver.exe without arguments only prints its usage."""
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
            self.kill()
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
            self.kill()
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


# The fields of a lap report and of a data report, in the order the plugin sends them.
LAP_FIELDS = ("sid sli sst tid cid did sat stt cat ctt psv sl slr st str fs fl fu fta fn fbpl "
              "fbpm sft pos llt fbm tlu").split()
DATA_FIELDS = LAP_FIELDS[:23] + ("wlf tlf phlf pclf wrf trf phrf pcrf wlr tlr phlr pclr wrr trr "
                                 "phrr pcrr pos llt fbm").split()


def report_path(values, data=False, default=0):
    """The request of a lap (or data) report of `values`, every other field `default`."""
    query = "&".join("%s=%s" % (k, values.get(k, default))
                     for k in (DATA_FIELDS if data else LAP_FIELDS))
    return ("/qrd/data.php?" if data else "/qrd/lap.php?") + query


class RaceDataService:
    """The race-data service program in a scratch folder of its own, on `port` or one it chose
    itself; plain HTTP unless `secure`, when its certificate is `certificate`. Its database is
    the folder's racedata.db unless `database` (a file or a PostgreSQL URI) says otherwise."""

    def __init__(self, exe, folder, secure=False, database=None, port=0, extra=()):
        self.folder = folder
        self.secure = secure
        self.files = os.path.join(folder, "files")
        self.database = database or os.path.join(folder, "racedata.db")
        self.certificate = os.path.join(folder, "racedata.crt")
        os.makedirs(self.files, exist_ok=True)
        port_file = os.path.join(folder, "port")
        if os.path.exists(port_file):
            os.remove(port_file)
        args = [exe, "--bind", "127.0.0.1", "--port", str(port), "--port-file", port_file,
                "--database", self.database, "--files", self.files,
                "--request-log", os.path.join(folder, "requests.log"), "--rate", "0"] + list(extra)
        if not secure:
            args.append("--plain")
        self.out = open(os.path.join(folder, "service.out"), "w")
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.STDOUT)
        deadline = time.time() + 30
        while not (os.path.exists(port_file) and os.path.getsize(port_file) > 0):
            if self.proc.poll() is not None or time.time() > deadline:
                self.stop()
                raise Failure("the race-data service did not start:\n" +
                              read_text(os.path.join(folder, "service.out")))
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read().strip())

    def get(self, path):
        import ssl
        import urllib.request
        scheme = "https" if self.secure else "http"
        context = ssl.create_default_context(cafile=self.certificate) if self.secure else None
        with urllib.request.urlopen("%s://127.0.0.1:%d%s" % (scheme, self.port, path),
                                    context=context, timeout=10) as r:
            return r.read().decode()

    def requests(self):
        """The lines of the service's request log: "STATUS TARGET ..."."""
        return read_text(os.path.join(self.folder, "requests.log")).splitlines()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.out.close()


def sound_windows(path, tones, seconds=0.05):
    """The captured sound cut into windows of `seconds`: (start in seconds, tone) for every
    window that is not silent, where tone is the frequency of `tones` that carries more than
    half the window's energy, or None for other sound (speech). A 16-bit PCM capture."""
    with wave.open(path) as w:
        rate, channels, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        frames = w.readframes(w.getnframes())
    if width != 2:
        raise Failure("the capture has %d-byte samples; 16-bit expected" % width)
    samples = struct.unpack("<%dh" % (len(frames) // 2), frames)
    mono = [sum(samples[i:i + channels]) / 32768.0 for i in range(0, len(samples), channels)]
    window = int(rate * seconds)
    coeffs = {hz: 2 * math.cos(2 * math.pi * hz / rate) for hz in tones}
    out = []
    for start in range(0, len(mono) - window, window):
        block = mono[start:start + window]
        energy = sum(x * x for x in block)
        if energy / window < 1e-6:
            continue
        heard = None
        for hz, k in coeffs.items():
            # Goertzel: the tone's power against the window's.
            s1 = s2 = 0.0
            for x in block:
                s1, s2 = x + k * s1 - s2, s1
            if (s1 * s1 + s2 * s2 - k * s1 * s2) / (energy * window / 2) > 0.5:
                heard = hz
                break
        out.append((start / rate, heard))
    return out

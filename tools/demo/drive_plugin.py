#!/usr/bin/env python3
"""Runs the plugin under a pseudo-terminal, shows its console as the driver sees it, and
presses a key once the simulator feed's race is over so that the plugin closes down cleanly.

usage: drive_plugin.py PLUGIN WORKDIR FEED_PID FEED_LOG CONSOLE_COPY

KORVANE_DEMO_RSS_LOG=FILE samples the plugin's resident memory into FILE twice a second, as
"<seconds since start> <VmRSS kB> <RssAnon kB> <RssFile kB> <RssShmem kB>" lines.
KORVANE_DEMO_QUIET_S=N leaves the plugin running N seconds after the race before the key, so
that what the race kept can be told from sounds still being heard; "# race over <seconds>"
in the memory log marks the race's end.
"""
import os
import pty
import select
import signal
import sys
import time


def feed_finished(feed_pid, feed_log):
    try:
        os.kill(feed_pid, 0)
    except ProcessLookupError:
        return "the feed has stopped"
    try:
        with open(feed_log, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.rstrip().endswith(": END") or " : STOP " in line:
                    return "the race has ended"
    except FileNotFoundError:
        pass
    return None


RESIDENT_KEYS = ("VmRSS:", "RssAnon:", "RssFile:", "RssShmem:")


def resident_kb(pid):
    """The whole resident set and its parts: what the program allocated (anonymous), the
    libraries' pages it has touched (file) and the shared blocks it maps (shmem)."""
    found = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key = line.split(":", 1)[0] + ":"
                if key in RESIDENT_KEYS:
                    found[key] = int(line.split()[1])
    except (OSError, ValueError):
        return None
    if "VmRSS:" not in found:
        return None
    return [found.get(k, 0) for k in RESIDENT_KEYS]


def main():
    plugin, workdir, feed_pid, feed_log, copy_path = sys.argv[1:6]
    rss_path = os.environ.get("KORVANE_DEMO_RSS_LOG")
    rss_log = open(rss_path, "w") if rss_path else None
    started = time.time()
    if rss_log:
        rss_log.write("# start %.3f\n" % started)
    sampled_at = 0.0
    quiet_s = float(os.environ.get("KORVANE_DEMO_QUIET_S", "0") or 0)
    race_over, race_over_at = None, 0.0
    feed_pid = int(feed_pid)
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.chdir(workdir)
            os.execv(plugin, [plugin])
        finally:
            os._exit(127)

    # The demo's own SIGTERM (its cleanup) must not leave the plugin behind.
    def stop(_sig, _frame):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        sys.exit(143)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    status = None
    key_sent_at = None
    with open(copy_path, "wb") as copy:
        while status is None:
            r, _, _ = select.select([fd], [], [], 0.25)
            if r:
                try:
                    data = os.read(fd, 65536)
                except OSError:  # the plugin has closed its terminal
                    data = b""
                if data:
                    os.write(sys.stdout.fileno(), data)
                    copy.write(data)
                    copy.flush()
            if rss_log and time.time() - sampled_at >= 0.5:
                sampled_at = time.time()
                kb = resident_kb(pid)
                if kb is not None:
                    rss_log.write("%.1f %s\n" % (sampled_at - started, " ".join(map(str, kb))))
                    rss_log.flush()
            done, st = os.waitpid(pid, os.WNOHANG)
            if done:
                status = st
                break
            if key_sent_at is None:
                if race_over is None:
                    race_over = feed_finished(feed_pid, feed_log)
                    if race_over:
                        race_over_at = time.time()
                        if rss_log:
                            rss_log.write("# race over %.1f\n" % (race_over_at - started))
                            rss_log.flush()
                if race_over and time.time() - race_over_at >= quiet_s:
                    print("\r\n[demo] %s: pressing a key to close the plugin\r" % race_over,
                          flush=True)
                    os.write(fd, b"q")
                    key_sent_at = time.time()
            elif time.time() - key_sent_at > 60:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                print("\n[demo] the plugin did not close within 60 s of the key", file=sys.stderr)
                return 1
    if key_sent_at is None:
        print("\n[demo] the plugin ended before the race did", file=sys.stderr)
        return 1
    if os.WIFSIGNALED(status):
        print("\n[demo] the plugin died of signal %d" % os.WTERMSIG(status), file=sys.stderr)
        return 1
    code = os.WEXITSTATUS(status)
    if code != 0:
        print("\n[demo] the plugin exited with status %d" % code, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

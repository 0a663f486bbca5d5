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
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "support"))
from e2e_driver import (INIT, OK, WAITING_FOR_SIM, Failure, Skip, expect,  # noqa: E402
                        in_order, plugin_run, prepare_wine)

BANNER_FORMAT = (" Brenvik Korvane Plugin (Release %s)\n Fuel & Tire Adaptive Analytics\n"
                 " Vantreau Edition\n")
BANNER = None  # set from --release
SHUTTING_DOWN = " [ INFO ]  Shutting down." + " " * 39 + "\n"
ENGINE_CLOSED = " [ FMOD ]  Audio engine closed.\n"
CTRL_C = "\n\n Recieved ctrl-c, Exiting\n\n"
START_LINE = re.compile(r"^KV: \d+ :  Starting Up. $")


def read_log(workdir):
    path = os.path.join(workdir, "Qm_Korvane_Plugin.log")
    if not os.path.exists(path):
        raise Failure("no Qm_Korvane_Plugin.log in the working directory")
    with open(path, "r", newline=None) as f:
        return f.read().splitlines()


def scenario_key(make_run, settings, args):
    run = make_run(args, settings)
    run.start()
    run.wait_for(WAITING_FOR_SIM, 90)
    # Waiting, not ending: the loop goes on without the simulator.
    run.pump(1.5)
    expect(not run.exited(), "the plugin ended while waiting for the simulator", run)
    missing = in_order(run.text(), [
        BANNER, OK + "Initialising.", "\n [ FMOD ]  Using predefined audio interface: 3\n",
        INIT + "Adjusting...\n", BANNER, OK + "Plugin Mode: Active\n", WAITING_FOR_SIM])
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
    parser.add_argument("--release", required=True, help="the release number of the build")
    opts = parser.parse_args()
    global BANNER
    BANNER = BANNER_FORMAT % opts.release

    if not opts.wine and os.path.exists("/dev/shm/IRSDKMemMapFileName"):
        print("SKIP: a simulator block exists on this machine")
        return 77

    if opts.wine:
        prepare_wine(opts.wine, opts.driver)
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
        return plugin_run([opts.exe] + args, workdir, run_env, opts.wine, opts.driver)

    scenarios = [
        ("a run ends on a key", lambda: scenario_key(
            make_run, "[Setup]\nSetupComplete=1\n", ["3"])),
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

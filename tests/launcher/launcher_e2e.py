#!/usr/bin/env python3
"""Runs Qm_Korvane_Launcher end to end in a scratch working directory beside a stand-in
plugin: with the service out of reach both components count as up to date, so the launcher
starts the plugin through the command processor with the preferred device, waits for it to
end, and only then asks for a key.

Linux: one run with a key waiting on its input, then two on a pseudo-terminal: a key typed
after the prompt, and ctrl-c after the prompt.
Windows (--wine): the run with a key waiting on its input, under Wine.
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_driver import Failure, PtyRun, clean, in_order  # noqa: E402

PROMPT = " Press enter to exit:\n\n"
SHUTDOWN = " Shutting down." + " " * 39 + "\n\n"
CTRL_C = "\n\n Recieved ctrl-c, Exiting\n\n"
SETTINGS = "[Service]\nHost=127.0.0.1\nPort=1\nSecure=0\n[Audio]\nPreferedDevice=7\n"


def prepare(scratch, name, launcher, plugin, windows):
    workdir = os.path.join(scratch, name)
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    suffix = ".exe" if windows else ""
    shutil.copy(launcher, os.path.join(workdir, "Qm_Korvane_Launcher" + suffix))
    shutil.copy(plugin, os.path.join(workdir, "Qm_Korvane_Plugin" + suffix))
    files = {
        "Qm_Korvane_Launcher.ini": SETTINGS,
        "Qm_Korvane_Launcher.ver": "3.014\n",
        "Qm_Korvane_Plugin.ver": "3.014\n",
    }
    for file_name, text in files.items():
        with open(os.path.join(workdir, file_name), "w", newline="\n") as f:
            f.write(text)
    return workdir


def expect_in_order(text, parts):
    missing = in_order(text, parts)
    if missing is not None:
        raise Failure("missing %r (in order) in the console:\n%s" % (missing, text))


RELEASE = None  # set from --release


def check_run(workdir, text):
    expect_in_order(text, [" Brenvik Korvane Launcher (Release %s)\n" % RELEASE,
                           " Checking Launcher Version.. ", "\n Launcher is up to date.\n",
                           " Checking Plugin Version.. ", "\n Plugin is up to date.\n",
                           "\n Plugin Ready..\n", "\n Launching plugin...\n",
                           " fake plugin started: 7\n", " fake plugin ended\n", PROMPT])
    with open(os.path.join(workdir, "fake_plugin.args")) as f:
        if f.read() != "7":
            raise Failure("the plugin was not given the preferred device 7")


def run_with_input(args, workdir, windows_exe=None, wine=None, key=b"x"):
    """A key already waiting in a pipe on the launcher's input; without one (key None) the
    input is the null device, where no key can ever come, and the launcher ends all the same."""
    command = [wine, windows_exe] if wine else [os.path.join(workdir, "Qm_Korvane_Launcher")]
    given = {"input": key} if key is not None else {"stdin": subprocess.DEVNULL}
    proc = subprocess.run(command, cwd=workdir, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=180, **given)
    text = clean(proc.stdout.decode("utf-8", "replace"))
    if proc.returncode != 0:
        raise Failure("exit code %d; console:\n%s" % (proc.returncode, text))
    check_run(workdir, text)
    if not text.endswith(PROMPT + SHUTDOWN):
        raise Failure("the run does not end with the prompt and the shutdown line:\n" + text)


def run_on_pty(workdir, after_prompt, expected_end):
    run = PtyRun([os.path.join(workdir, "Qm_Korvane_Launcher")], workdir, dict(os.environ))
    run.start()
    try:
        run.wait_for(PROMPT, 120)
        os.write(run.fd, after_prompt)
        code = run.finish(60)
    finally:
        run.kill()
    # The key may be echoed when it arrives before the terminal is switched to no echo.
    text = run.text().replace(PROMPT + "z", PROMPT)
    if code != 0:
        raise Failure("the launcher ended with code %d; console:\n%s" % (code, text))
    check_run(workdir, text)
    if not text.endswith(expected_end):
        raise Failure("the console does not end with %r:\n%s" % (expected_end, text))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--release", required=True, help="the release number of the build")
    args = parser.parse_args()
    global RELEASE
    RELEASE = args.release
    windows = args.wine is not None
    try:
        if windows:
            # A key written into a Unix pipe is not seen through Wine (the plugin's tests type
            # through pipe_driver for that); here, without a console, the launcher must end.
            workdir = prepare(args.scratch, "no_console", args.launcher, args.plugin, windows)
            exe = "Z:" + os.path.abspath(os.path.join(workdir, "Qm_Korvane_Launcher.exe"))
            run_with_input(args, workdir, exe.replace("/", "\\"), args.wine, key=None)
        else:
            workdir = prepare(args.scratch, "key_waiting", args.launcher, args.plugin, windows)
            run_with_input(args, workdir)
            workdir = prepare(args.scratch, "no_console", args.launcher, args.plugin, windows)
            run_with_input(args, workdir, key=None)
            workdir = prepare(args.scratch, "any_key", args.launcher, args.plugin, windows)
            run_on_pty(workdir, b"z", PROMPT + SHUTDOWN)
            workdir = prepare(args.scratch, "ctrl_c", args.launcher, args.plugin, windows)
            run_on_pty(workdir, b"\x03", CTRL_C)
    except (Failure, subprocess.TimeoutExpired) as failure:
        print("FAIL: %s" % failure)
        return 1
    print("launcher end to end: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())

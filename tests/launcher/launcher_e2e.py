#!/usr/bin/env python3
"""Runs Qm_Korvane_Launcher end to end in a scratch working directory beside a stand-in
plugin: with the service out of reach both components count as up to date, so the launcher
starts the plugin through the command processor with the preferred device, waits for it to
end, and only then asks for a key.

Linux: one run with no input at all, then two on a pseudo-terminal: a key typed after the
prompt, and ctrl-c after the prompt. Windows (--wine): the run with no input, under Wine. A key
waiting in a pipe is the console's own test (console_system_test.cpp).
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_driver import Failure, PtyRun, clean, in_order, to_windows  # noqa: E402

PROMPT = " Press enter to exit:\n\n"
SHUTDOWN = " Shutting down." + " " * 39 + "\n\n"
CTRL_C = "\n\n Recieved ctrl-c, Exiting\n\n"
FILES = {"Qm_Korvane_Launcher.ini":
         "[Service]\nHost=127.0.0.1\nPort=1\nSecure=0\n[Audio]\nPreferedDevice=7\n",
         "Qm_Korvane_Launcher.ver": "3.014\n", "Qm_Korvane_Plugin.ver": "3.014\n"}


def prepare(args, name):
    """A fresh working directory holding both programs and the files of an up-to-date install;
    the launcher's path in it."""
    workdir = os.path.join(args.scratch, name)
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    suffix = ".exe" if args.wine else ""
    shutil.copy(args.plugin, os.path.join(workdir, "Qm_Korvane_Plugin" + suffix))
    launcher = os.path.join(workdir, "Qm_Korvane_Launcher" + suffix)
    shutil.copy(args.launcher, launcher)
    for file_name, text in FILES.items():
        with open(os.path.join(workdir, file_name), "w", newline="\n") as f:
            f.write(text)
    return launcher


def check_run(args, launcher, code, text, end):
    if code != 0:
        raise Failure("the launcher ended with code %d; console:\n%s" % (code, text))
    missing = in_order(text, [" Brenvik Korvane Launcher (Release %s)\n" % args.release,
                              " Checking Launcher Version.. ", "\n Launcher is up to date.\n",
                              " Checking Plugin Version.. ", "\n Plugin is up to date.\n",
                              "\n Plugin Ready..\n", "\n Launching plugin...\n",
                              " fake plugin started: 7\n", " fake plugin ended\n", PROMPT])
    if missing is not None or not text.endswith(end):
        raise Failure("missing %r (in order), or not ending with %r:\n%s" % (missing, end, text))
    with open(os.path.join(os.path.dirname(launcher), "fake_plugin.args")) as f:
        if f.read() != "7":
            raise Failure("the plugin was not given the preferred device 7")


def run_without_input(args, name):
    """The input is the null device, where no key can ever come: the launcher ends all the
    same."""
    launcher = prepare(args, name)
    command = [args.wine, to_windows(launcher)] if args.wine else [launcher]
    proc = subprocess.run(command, cwd=os.path.dirname(launcher), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=180)
    check_run(args, launcher, proc.returncode, clean(proc.stdout.decode("utf-8", "replace")),
              PROMPT + SHUTDOWN)


def run_on_pty(args, name, after_prompt, end):
    launcher = prepare(args, name)
    run = PtyRun([launcher], os.path.dirname(launcher), dict(os.environ))
    run.start()
    try:
        run.wait_for(PROMPT, 120)
        os.write(run.fd, after_prompt)
        code = run.finish(60)
    finally:
        run.kill()
    # The key may be echoed when it arrives before the terminal is switched to no echo.
    check_run(args, launcher, code, run.text().replace(PROMPT + "z", PROMPT), end)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--release", required=True, help="the release number of the build")
    args = parser.parse_args()
    try:
        run_without_input(args, "no_console")
        if not args.wine:
            run_on_pty(args, "any_key", b"z", PROMPT + SHUTDOWN)
            run_on_pty(args, "ctrl_c", b"\x03", CTRL_C)
    except (Failure, subprocess.TimeoutExpired) as failure:
        print("FAIL: %s" % failure)
        return 1
    print("launcher end to end: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""A driver's package, unpacked into an empty folder and started as a driver would: the
launcher, pointed at a race-data service on this machine to which `dev.sh publish` has put the
release, finds that its plugin is older, fetches the published one in its place, starts it,
and the plugin reaches "Waiting for the sim" (or attaches to a simulator already running).

  package_e2e.py --platform linux|windows --version V --dist DIR --dev dev.sh
                 --racedata Qm_Korvane_RaceData --scratch DIR [--wine wine-run.sh --driver
                 pipe_driver.exe]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tarfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_driver import (CONNECTED, WAITING_FOR_SIM, Failure, RaceDataService,  # noqa: E402
                        expect, plugin_run, prepare_wine, read_text)

PROMPT = " Press enter to exit:"
OLD_PLUGIN = b"an older plugin that must not be started\n"


def unpack(opts, into):
    if opts.platform == "windows":
        name = "Brenvik-Korvane-%s-windows-x64.zip" % opts.version
        with zipfile.ZipFile(os.path.join(opts.dist, name)) as z:
            z.extractall(into)
        folder = os.path.join(into, "Brenvik-Korvane-%s" % opts.version)
    else:
        name = "brenvik-korvane-%s-linux-x86_64.tar.gz" % opts.version
        with tarfile.open(os.path.join(opts.dist, name)) as t:
            t.extractall(into)
        folder = os.path.join(into, "brenvik-korvane-%s" % opts.version)
    if not os.path.isdir(folder):
        raise Failure("%s does not unpack into %s" % (name, os.path.basename(folder)))
    return folder


def point_at_service(ini_path, port):
    """The shipped settings file with its "Service" keys pointing at the local service."""
    with open(ini_path, newline="") as f:
        text = f.read()
    for key, value in (("Host", "127.0.0.1"), ("Port", str(port)), ("Secure", "0")):
        text, found = re.subn(r"(?m)^%s=[^\r\n]*" % key, "%s=%s" % (key, value), text)
        if found != 1:
            raise Failure("the shipped settings file has %d %s keys, not one" % (found, key))
    with open(ini_path, "w", newline="") as f:
        f.write(text)


def run(opts):
    work = os.path.join(opts.scratch, opts.platform)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    windows = opts.platform == "windows"
    suffix = ".exe" if windows else ""
    folder = unpack(opts, os.path.join(work, "install"))
    plugin = os.path.join(folder, "Qm_Korvane_Plugin" + suffix)
    launcher = os.path.join(folder, "Qm_Korvane_Launcher" + suffix)
    with open(plugin, "rb") as f:
        packaged_plugin = f.read()

    # The driver's install is one release behind in its plugin.
    older = "%.3f" % (float(opts.version) - 0.001)
    with open(plugin, "wb") as f:
        f.write(OLD_PLUGIN)
    with open(os.path.join(folder, "Qm_Korvane_Plugin.ver"), "w") as f:
        f.write(older + "\n")

    service = RaceDataService(opts.racedata, os.path.join(work, "service"))
    try:
        subprocess.run([opts.dev, "publish", service.files], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, timeout=600)
        served = "Qm_Korvane_Plugin.bin" if windows else "Qm_Korvane_Plugin.linux.bin"
        point_at_service(os.path.join(folder, "Qm_Korvane_Launcher.ini"), service.port)

        env = dict(os.environ)
        env["TERM"] = env.get("TERM", "xterm")
        # No sound card here: the engine's capture output stands in for the speakers.
        env["KORVANE_AUDIO_BACKEND"] = "capture"
        env["KORVANE_AUDIO_CAPTURE"] = os.path.join(work, "capture.wav")
        if windows:
            prepare_wine(opts.wine, opts.driver)
        session = plugin_run([launcher], folder, env, opts.wine, opts.driver)
        session.start()
        try:
            deadline = time.time() + 150
            while time.time() < deadline:
                session.pump(0.5)
                text = session.text()
                if (WAITING_FOR_SIM in text or CONNECTED in text or PROMPT in text or
                        session.exited()):
                    break
            text = session.text()
            expect(WAITING_FOR_SIM in text or CONNECTED in text,
                   "the plugin did not reach \"Waiting for the sim\"", session)
            # One key ends the plugin; the launcher's prompt then takes one more.
            session.press_key()
            if not windows:
                session.pump(60, PROMPT)
                session.press_key()
            code = session.finish(60)
        finally:
            session.kill()
    finally:
        service.stop()

    text = session.text()
    for part in ("Launcher is up to date.", "Fetching Updates for Plugin...", "Plugin Ready..",
                 "Launching plugin..."):
        expect(part in text, "the console lacks %r" % part, session)
    expect("Fetching Updates for Launcher" not in text, "the launcher updated itself", session)
    expect(code == 0, "the launcher ended with %r" % code, session)
    with open(plugin, "rb") as f:
        expect(f.read() == packaged_plugin, "the plugin was not replaced by the published one",
               session)
    with open(os.path.join(folder, "Qm_Korvane_Plugin.ver")) as f:
        expect(f.read().strip() == opts.version, "the plugin's version file was not updated",
               session)
    requests = read_text(os.path.join(work, "service", "requests.log"))
    expect("200 /files/R3/%s " % served in requests,
           "the service did not hand out %s:\n%s" % (served, requests), session)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--platform", choices=["linux", "windows"], required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--dev", required=True, help="dev.sh, for its publish command")
    parser.add_argument("--racedata", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--driver")
    opts = parser.parse_args()
    if (opts.platform == "windows") != bool(opts.wine and opts.driver):
        parser.error("--wine and --driver go with --platform windows")
    started = time.time()
    try:
        run(opts)
    except Failure as f:
        print("FAIL %s package: %s" % (opts.platform, f))
        return 1
    print("PASS %s package: updated and started (%.1f s)" % (opts.platform,
                                                            time.time() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())

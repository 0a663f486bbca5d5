#!/usr/bin/env python3
"""The demo's whole chain on a short race: the race-data service, the simulator feed, the pit
board on a pseudo-terminal and the plugin in active mode, run by tools/demo/run-demo.sh. Checks
what a driver would see, hear and find afterwards.

usage: demo_e2e.py --demo run-demo.sh --bin DIR --scenario FILE --out DIR [--time-scale X]
                   [--expect-audio]
"""
import argparse
import math
import os
import re
import shutil
import struct
import subprocess
import sys

ANSI = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", errors="replace")
    except FileNotFoundError:
        return ""


def console_text(path):
    with open(path, "rb") as f:
        raw = f.read()
    return ANSI.sub(b"", raw).replace(b"\r", b"\n").decode("utf-8", errors="replace")


def read_wav(path):
    """(rate, channels, frames as lists of floats per channel) of a PCM16 or float32 WAV."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a WAV file")
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
        elif cid == b"data":
            samples = body
        pos += 8 + size + (size & 1)
    if fmt is None or samples is None:
        raise ValueError("no fmt or data chunk")
    tag, channels, rate, _, _, bits = fmt
    if tag == 0xFFFE and len(samples) >= 0:  # extensible: the sub-format follows in fmt
        tag = 3 if bits == 32 else 1
    if tag == 1 and bits == 16:
        values = [v / 32768.0 for v in struct.unpack("<%dh" % (len(samples) // 2), samples)]
    elif tag == 3 and bits == 32:
        values = list(struct.unpack("<%df" % (len(samples) // 4), samples))
    else:
        raise ValueError("unexpected format tag %d, %d bits" % (tag, bits))
    return rate, channels, values


def goertzel_power(block, rate, hz):
    k = 2.0 * math.cos(2.0 * math.pi * hz / rate)
    s1 = s2 = 0.0
    for x in block:
        s1, s2 = x + k * s1 - s2, s1
    return (s1 * s1 + s2 * s2 - k * s1 * s2) / (len(block) ** 2)


def audio_findings(path):
    """Counts 20 ms windows dominated by each tone, and windows of other sound (speech)."""
    rate, channels, values = read_wav(path)
    mono = [sum(values[i:i + channels]) for i in range(0, len(values), channels)]
    window = rate // 50
    tones = {1250: 0, 1050: 0, 850: 0, 1200: 0}
    other = 0
    for start in range(0, len(mono) - window, window):
        block = mono[start:start + window]
        energy = sum(x * x for x in block) / window
        if energy < 1e-6:
            continue
        # A pure sine of power p has mean square p * 2 in this normalisation.
        best, share = None, 0.0
        for hz in tones:
            s = 2.0 * goertzel_power(block, rate, hz) / energy
            if s > share:
                best, share = hz, s
        if share > 0.5:
            tones[best] += 1
        else:
            other += 1
    return tones, other, len(mono) / rate


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--demo", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--scenario", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--time-scale", default="20")
    parser.add_argument("--expect-audio", action="store_true")
    opts = parser.parse_args()

    if shutil.which("socat") is None:
        print("socat is not installed: skipped")
        return 77
    shutil.rmtree(opts.out, ignore_errors=True)
    env = dict(os.environ, KORVANE_BIN_DIR=opts.bin, KORVANE_DEMO_SOUND="capture")
    run = subprocess.run(["bash", opts.demo, "--scenario", opts.scenario, "--time-scale",
                          opts.time_scale, "--out", opts.out], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    said = run.stdout.decode("utf-8", errors="replace")
    expect(run.returncode == 0, "the demo ended with %d" % run.returncode)

    out = opts.out
    console = console_text(os.path.join(out, "plugin", "console.txt"))
    log = read(os.path.join(out, "plugin", "Qm_Korvane_Plugin.log"))
    feed = read(os.path.join(out, "simfeed.log"))
    requests = read(os.path.join(out, "service", "requests.log")).splitlines()
    board = [l for l in read(os.path.join(out, "pit-board.txt")).splitlines() if l.strip()]

    for line in ("Connected to iRacing.", "Telemetry Loaded.", "Plugin Mode: Active"):
        expect(line in console, "console: no %r" % line)
    expect(re.search(r"Weather: Air: [\d.]+ \(-?[\d.]+\) Track: [\d.]+ \(-?[\d.]+\) "
                     r"(Setup data read\.|Open Garage\.)", console), "console: no garage row")
    expect(len(re.findall(r"Fuel L:\d+\.\d{3} U:\d+\.\d{3} ", console)) >= 10,
           "console: fewer than ten fuel rows")
    expect(re.search(r"PIT code=2 value=\d+ ", feed), "feed: no fuel request from the plugin")

    paths = [r.split()[1] for r in requests if len(r.split()) > 1]
    expect(all(r.startswith("200 ") for r in requests), "service: a request was not answered 200")
    asked = [p for p in paths if "/qrd/api.php?c=" in p]
    order = ["qrdtireschange", "getpreviousfuelburn", "qrdweatherchange"]
    expect([re.search(r"c=(\w+)", p).group(1) for p in asked[:3]] == order,
           "service: the pit-in questions were not asked in order: %r" % asked[:3])
    expect(any(p.startswith("/qrd/lap.php?") for p in paths), "service: no lap report")
    expect(any(p.startswith("/qrd/data.php?") and "&sst=5&" in p for p in paths),
           "service: no data report after the checkered flag")
    expect("Pit IN: Checking FuelBurnMaxReply:" in log, "log: no pit-in consultation")
    expect(re.search(r" BOX: Lap \d+ Pitting: QRD : Service : ", log), "log: no BOX: lines")
    expect(log.rstrip().endswith("Closing Down."), "log: does not end with Closing Down.")
    expect(len(board) >= 10, "pit board: %d lines received" % len(board))
    expect(all(re.match(r"^\s*\d+,\s*\d+,\s*\d+,[\d.]+,\s*\d+,\s*\d+,\s*\d+$", l) for l in board),
           "pit board: a line out of shape")
    for where in ("plugin log", "plugin console", "pit-board lines", "service database", "sound"):
        expect(("demo: " + where) in said, "demo: does not say where the %s is" % where)

    audio = os.path.join(out, "audio.wav")
    if opts.expect_audio:
        try:
            tones, other, seconds = audio_findings(audio)
            print("audio: %.1f s, tone windows %r, other sound %d windows" % (seconds, tones, other))
            # No countdown tones are asked for here. They sound only on a tick that finds the
            # car approaching the pits (surface 2) on its very metre, 75, 50 or 25 m before the
            # pit entry; the feed reports surface 2 only once the car has passed the entry, and
            # sped up it covers several metres per tick besides (a run at 2x heard none). The
            # countdown through the real refresh and engine has a capture test of its own.
            expect(tones[1200] >= 2, "audio: no stall tone: %r" % tones)
            expect(other >= 25, "audio: less than half a second of speech (%d windows)" % other)
        except (OSError, ValueError) as e:
            expect(False, "audio: %s: %s" % (audio, e))

    if failures:
        print(said)
        print("\n".join("FAILED: " + f for f in failures))
        return 1
    print("demo end to end: %d requests, %d pit-board lines" % (len(requests), len(board)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env bash
# Runs a whole race on this machine: the race-data service, the simulator feed, a serial pit
# board on a pseudo-terminal, and the plugin in a terminal of its own, as a driver would see it.
# Everything the run leaves behind goes to build/demo-out/<timestamp> (or --out DIR).
#
# usage: run-demo.sh [--scenario NAME] [--time-scale X] [--out DIR]
#   KORVANE_BIN_DIR     the programs' folder (default build/linux-release/bin)
#   KORVANE_DEMO_SOUND  "device" plays through the machine's audio device, "capture" writes the
#                       sound to audio.wav in the output folder; by default the device when the
#                       machine has one, otherwise the capture
set -u

root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${KORVANE_BIN_DIR:-$root/build/linux-release/bin}
# The plugin starts in its own working folder: a relative folder would not be found from there.
[ ! -d "$bin" ] || bin=$(cd "$bin" && pwd)
scenario=one_stop
# one_stop's 14-lap race takes about 1330 simulated seconds: roughly three minutes at 8x.
time_scale=8
out=

while [ $# -gt 0 ]; do
    case "$1" in
        --scenario) scenario=${2:?--scenario needs a name}; shift 2 ;;
        --time-scale) time_scale=${2:?--time-scale needs a number}; shift 2 ;;
        --out) out=${2:?--out needs a folder}; shift 2 ;;
        *) echo "usage: run-demo.sh [--scenario NAME] [--time-scale X] [--out DIR]" >&2; exit 2 ;;
    esac
done

fail() {
    echo "demo: $*" >&2
    exit 1
}

for program in Qm_Korvane_Plugin Qm_Korvane_SimFeed Qm_Korvane_RaceData; do
    [ -x "$bin/$program" ] || fail "$bin/$program not found (build the linux-release preset first)"
done
command -v socat >/dev/null || fail "socat is not installed (./dev.sh setup installs it)"
command -v python3 >/dev/null || fail "python3 is not installed"

[ -n "$out" ] || out=$root/build/demo-out/$(date +%Y%m%d-%H%M%S)
mkdir -p "$out/service/files" "$out/serial" "$out/plugin" || fail "cannot create $out"

pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do
        kill "$p" 2>/dev/null
    done
    for p in "${pids[@]}"; do
        wait "$p" 2>/dev/null
    done
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

# --- race-data service, kept in the output folder so its database outlives the run
db=$out/service/racedata.db
"$bin/Qm_Korvane_RaceData" --bind 127.0.0.1 --port 0 --port-file "$out/service/port" \
    --database "$db" --files "$out/service/files" --request-log "$out/service/requests.log" --rate 0 \
    >"$out/service/service.out" 2>&1 &
pids+=($!)
service_pid=$!
for _ in $(seq 200); do
    [ -s "$out/service/port" ] && break
    kill -0 "$service_pid" 2>/dev/null || { cat "$out/service/service.out" >&2; fail "the race-data service did not start"; }
    sleep 0.05
done
[ -s "$out/service/port" ] || fail "the race-data service did not report its port"
port=$(cat "$out/service/port")
cert=$out/service/racedata.crt
for _ in $(seq 100); do
    [ -s "$cert" ] && break
    sleep 0.05
done
[ -s "$cert" ] || fail "the race-data service made no certificate at $cert"
echo "demo: race-data service on https://127.0.0.1:$port"

# --- serial pit board: the plugin finds COM1 in its own device folder
socat pty,raw,echo=0,link="$out/serial/COM1" pty,raw,echo=0,link="$out/serial/board" \
    2>"$out/serial/socat.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -e "$out/serial/COM1" ] && [ -e "$out/serial/board" ] && break
    sleep 0.05
done
[ -e "$out/serial/board" ] || fail "socat made no pseudo-terminal pair (see $out/serial/socat.log)"
transcript=$out/pit-board.txt
: >"$transcript"
(
    # A line ends with a carriage return, which the terminal may hand over as a line feed: take
    # either. Every line goes to the transcript, one every five seconds to the console.
    shown=-5
    # The board end reports an I/O error once the other end closes: that is the end of the race.
    stdbuf -o0 tr '\r' '\n' <"$out/serial/board" 2>/dev/null | while IFS= read -r line; do
        [ -n "$line" ] || continue
        printf '%s\n' "$line" >>"$transcript"
        if ((SECONDS - shown >= 5)); then
            shown=$SECONDS
            printf '\r[pit board] %s\r\n' "$line"
        fi
    done
) &
pids+=($!)

# --- plugin settings
cat >"$out/plugin/Qm_Korvane_Launcher.ini" <<INI
[Setup]
PassiveMode=0
UseSerial=1
SetupComplete=1

[Service]
Host=127.0.0.1
Port=$port
Secure=1
CACertificate=$cert
INI

# --- sound: the machine's device when it has one, else a WAV file of what the driver would hear
sound_mode=${KORVANE_DEMO_SOUND:-}
if [ -z "$sound_mode" ]; then
    sound_mode=capture
    if compgen -G "/dev/snd/pcmC*D*p" >/dev/null || [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ]; then
        sound_mode=device
    fi
fi
audio_wav=$out/audio.wav
case "$sound_mode" in
    capture) export KORVANE_AUDIO_CAPTURE=$audio_wav; sound_note="$audio_wav" ;;
    device) unset KORVANE_AUDIO_CAPTURE; sound_note="played on the machine's audio device" ;;
    *) fail "KORVANE_DEMO_SOUND must be device or capture, not $sound_mode" ;;
esac

# --- simulator feed
feed_log=$out/simfeed.log
"$bin/Qm_Korvane_SimFeed" --scenario "$scenario" --time-scale "$time_scale" --until-end \
    --log "$feed_log" --no-keyboard --quiet >"$out/simfeed.out" 2>&1 </dev/null &
feed_pid=$!
pids+=($feed_pid)
sleep 1
kill -0 "$feed_pid" 2>/dev/null || { cat "$out/simfeed.out" >&2; fail "the simulator feed did not start (scenario $scenario)"; }
echo "demo: simulator feed running scenario $scenario at ${time_scale}x"

# --- the plugin, in a terminal of its own
export KORVANE_SERIAL_DIR=$out/serial
export KORVANE_SOURCE_DIR=$root
python3 "$root/tools/demo/drive_plugin.py" "$bin/Qm_Korvane_Plugin" "$out/plugin" \
    "$feed_pid" "$feed_log" "$out/plugin/console.txt" &
driver_pid=$!
pids+=($driver_pid)
wait "$driver_pid"
status=$?
echo

plugin_log=$out/plugin/Qm_Korvane_Plugin.log
if [ $status -ne 0 ]; then
    fail "the plugin run failed; console copy in $out/plugin/console.txt"
fi
grep -q "Closing Down\." "$plugin_log" 2>/dev/null || fail "the plugin log $plugin_log has no \"Closing Down.\""

# --- the race report, read from the service's database (WAL: readable while the service runs)
report=$out/report.html
report_status=0
"$bin/Qm_Korvane_Report" --db "$db" --out "$report" >"$out/report.out" 2>&1 || report_status=$?
if [ $report_status -ne 0 ]; then
    echo "demo: the race report failed: $(cat "$out/report.out")" >&2
    report="not written (see $out/report.out)"
fi

echo "demo: plugin log:        $plugin_log"
echo "demo: plugin console:    $out/plugin/console.txt"
echo "demo: feed command log:  $feed_log"
echo "demo: pit-board lines:   $transcript ($(wc -l <"$transcript") received)"
echo "demo: service database:  $db (requests: $out/service/requests.log)"
echo "demo: race report:       $report"
echo "demo: sound:             $sound_note"
echo "demo: race finished"
[ $report_status -eq 0 ] || exit 1
exit 0

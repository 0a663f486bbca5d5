#!/usr/bin/env bash
# Runs a command against a race-data service of its own: a fresh database, files folder and
# (unless --plain) self-signed certificate in a temporary folder, on a free port of 127.0.0.1.
# The command finds the service through the environment:
#   KORVANE_RACEDATA_PORT, KORVANE_RACEDATA_SECURE (1 or 0), KORVANE_RACEDATA_CERT,
#   KORVANE_RACEDATA_REQUEST_LOG, KORVANE_RACEDATA_FILES
# The service is stopped when the command ends; the command's exit status is returned.
#
# usage: with-racedata-service.sh SERVICE [SERVICE OPTIONS...] -- COMMAND [ARGS...]
# e.g. with-racedata-service.sh Qm_Korvane_RaceData --plain --publish Plugin=3.015 -- test.exe
set -u
service=$1
shift
secure=1
extra=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    [ "$1" = --plain ] && secure=0
    extra+=("$1")
    shift
done
[ "${1:-}" = -- ] && shift
if [ $# -eq 0 ]; then
    echo "usage: with-racedata-service.sh SERVICE [SERVICE OPTIONS...] -- COMMAND [ARGS...]" >&2
    exit 2
fi
if [ ! -x "$service" ]; then
    echo "race-data service not found at $service (build the linux preset first)" >&2
    exit 1
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/korvane-racedata.XXXXXX")
mkdir -p "$dir/files"
# Tests ask from one address faster than any driver does: no rate limit.
"$service" --bind 127.0.0.1 --port 0 --port-file "$dir/port" --database "$dir/racedata.db" \
    --files "$dir/files" --request-log "$dir/requests.log" --rate 0 ${extra[@]+"${extra[@]}"} >"$dir/service.out" 2>&1 &
pid=$!
child=
cleanup() {
    [ -n "$child" ] && kill "$child" 2>/dev/null
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
# A test runner that gives up on us must not leave the service (or the command) behind.
trap 'exit 143' TERM INT HUP

for _ in $(seq 200); do
    [ -s "$dir/port" ] && break
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "race-data service did not start:" >&2
        cat "$dir/service.out" >&2
        exit 1
    fi
    sleep 0.05
done
if [ ! -s "$dir/port" ]; then
    echo "race-data service did not report its port" >&2
    exit 1
fi

export KORVANE_RACEDATA_PORT=$(cat "$dir/port")
export KORVANE_RACEDATA_SECURE=$secure
export KORVANE_RACEDATA_CERT=$dir/racedata.crt
export KORVANE_RACEDATA_REQUEST_LOG=$dir/requests.log
export KORVANE_RACEDATA_FILES=$dir/files
"$@" &
child=$!
wait "$child"
status=$?
child=
if [ $status -ne 0 ]; then
    echo "--- race-data service output" >&2
    cat "$dir/service.out" >&2
fi
exit $status

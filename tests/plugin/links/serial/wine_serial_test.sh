#!/usr/bin/env bash
# The serial line under Wine: COM<port> of the test prefix leads to a pseudo-terminal made by
# socat, which records what arrives; the Windows test then opens the port, writes the pit-board
# line and compares the record.
#   wine_serial_test.sh <build dir> <test exe> <source dir>
set -u
build=$1
exe=$2
src=$3
port=42
export WINEPREFIX="$build/wineprefix"
link="$build/serial-test-pty"
capture="$build/serial-test-capture.bin"
rm -f "$capture" "$link"
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$link" "$WINEPREFIX/dosdevices/com$port"
socat -u "PTY,link=$link,rawer" "CREATE:$capture" &
socat_pid=$!
trap 'kill $socat_pid 2>/dev/null; rm -f "$link"' EXIT
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
[ -e "$link" ] || { echo "socat made no pseudo-terminal"; exit 1; }
KORVANE_TEST_COM_PORT=$port KORVANE_TEST_COM_CAPTURE="Z:$(echo "$capture" | tr / '\\')" \
    "$src/tools/wine-run.sh" "$exe" --gtest_color=no \
    --gtest_filter='SerialPitBoard.TheLineArrivesByteForByteOnTheHighestPort'

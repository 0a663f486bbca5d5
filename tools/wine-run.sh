#!/usr/bin/env bash
# Runs one Windows executable under headless Wine, in the build's own prefix so that the
# user's ~/.wine is never touched.
# `wine-run.sh --prepare BUILD_DIR` only readies that build's prefix, for a caller that then keeps
# one Wine session up for many programs.
set -u
exe=$1
shift
prepare_only=0
if [ "$exe" = --prepare ]; then
    prepare_only=1
    exe=$1/CMakeCache.txt
fi
if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$exe")" && pwd)
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
# Without a display only the null graphics driver lets a program create windows, such as the
# hidden top-level window that receives the simulator's broadcast message.
if [ ! -f "$WINEPREFIX/.korvane-null-graphics" ]; then
    # The driver is chosen when a session starts, so the session that wrote the key must end.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 &&
        touch "$WINEPREFIX/.korvane-null-graphics"
    wineserver -w
fi
[ "$prepare_only" = 0 ] || exit 0
exec wine "$exe" "$@"

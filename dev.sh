#!/usr/bin/env bash
# Brenvik Korvane developer entry point: setup, build, test, demo.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

PACKAGES=(cmake ninja-build g++ ccache pkg-config python3 python3-yaml socat procps
          g++-mingw-w64-x86-64-posix wine wine64
          libgtest-dev libgmock-dev googletest libbenchmark-dev
          libcurl4-openssl-dev libssl-dev libsqlite3-dev libcpp-httplib-dev
          libespeak-ng-dev espeak-ng-data libsdl2-dev)

export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/korvane-ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
JOBS=${JOBS:-$(nproc)}

missing_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    echo "${missing[@]:-}"
}

cmd_setup() {
    local missing
    missing=$(missing_packages)
    if [ -z "$missing" ]; then
        echo "setup: all packages present"
        return 0
    fi
    echo "setup: installing $missing"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing
}

ensure_setup() {
    [ -z "$(missing_packages)" ] || cmd_setup
}

configure() {
    local preset=$1
    local dir=build/$preset
    if [ ! -f "$dir/build.ninja" ]; then
        cmake --preset "$preset" >/dev/null
    fi
}

build_preset() {
    local preset=$1
    configure "$preset"
    cmake --build "build/$preset" -j "$JOBS"
}

cmd_build() {
    ensure_setup
    local presets=("$@")
    [ ${#presets[@]} -gt 0 ] || presets=(linux windows)
    for p in "${presets[@]}"; do
        echo "== build $p"
        build_preset "$p"
    done
}

wine_prefix_ready() {
    export WINEPREFIX=$ROOT/build/windows/wineprefix
    export WINEDEBUG=-all
    unset DISPLAY
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "== creating Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
    fi
}

cmd_test() {
    ensure_setup
    local status=0
    echo "== build linux (ASan+UBSan)"
    build_preset linux
    echo "== build windows (mingw-w64)"
    build_preset windows
    echo "== test linux"
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        ctest --preset linux || status=1
    echo "== test windows (Wine)"
    wine_prefix_ready
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    ctest --preset windows || status=1
    wineserver -k >/dev/null 2>&1 || true
    return $status
}

cmd_demo() {
    ensure_setup
    build_preset linux-release
    exec "$ROOT/tools/demo/run-demo.sh" "$@"
}

usage() {
    echo "usage: ./dev.sh setup|build [preset...]|test|demo [--scenario NAME]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
sub=$1
shift
case "$sub" in
    setup) cmd_setup ;;
    build) cmd_build "$@" ;;
    test) cmd_test ;;
    demo) cmd_demo "$@" ;;
    *) usage ;;
esac

#!/usr/bin/env bash
# Brenvik Korvane developer entry point: setup, build, test, demo.
set -euo pipefail
CALLER_DIR=$(pwd)
cd "$(dirname "$0")"
ROOT=$(pwd)

PACKAGES=(cmake ninja-build g++ ccache pkg-config python3 python3-yaml socat procps
          g++-mingw-w64-x86-64-posix wine wine64
          libgtest-dev libgmock-dev googletest libbenchmark-dev
          libcurl4-openssl-dev libssl-dev libsqlite3-dev libcpp-httplib-dev libpq-dev postgresql
          libespeak-ng-dev espeak-ng-data libsdl2-dev
          clang libfuzzer-14-dev)

export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/korvane-ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# Paths relative to the checkout and no build-folder hash, so that clones and extra build folders
# share one cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
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

# Readies the Windows build's prefix and keeps one Wine session up for the whole test run. The
# session's first program starts Wine's own services and desktop, which inherit its output: were
# that a test, ctest would wait on its output until the session ends and time the test out. Here
# they inherit nothing.
wine_session_start() {
    export WINEPREFIX=$ROOT/build/windows/wineprefix
    export WINEDEBUG=-all
    unset DISPLAY
    [ -f "$WINEPREFIX/system.reg" ] || echo "== creating Wine prefix $WINEPREFIX"
    "$ROOT/tools/wine-run.sh" --prepare "$ROOT/build/windows"
    # The server may print dumps of its objects (one came as a serial test's pseudo-terminal
    # closed); they do not belong in the test log.
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
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
    echo "== outcome (short)"
    cmd_outcome --short || status=1
    echo "== test windows (Wine)"
    wine_session_start
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    ctest --preset windows || status=1
    wineserver -k >/dev/null 2>&1 || true
    echo "== fuzz (ASan+UBSan, fixed seed and runs)"
    cmd_fuzz_gate || status=1
    cmd_tsan || status=1
    cmd_bench "${KORVANE_BENCH_MIN_TIME:-0.05}" || status=1
    cmd_package_test || status=1
    return $status
}

# Every fuzz target for SECONDS each, two at a time, from its generated seeds, its kept corpus
# and its regression inputs; what a run finds is kept under build/fuzz/fuzz-corpus. A finding
# leaves its input in build/fuzz/fuzz-findings/<target>/ and fails the run; copied into
# tests/fuzz/regressions/<target>/ it is replayed by every later test run. KORVANE_FUZZ_DIR
# names another build folder.
# KORVANE_FUZZ_KEEP=1 merges the inputs that add coverage into tests/fuzz/corpus/<target>.
cmd_fuzz() {
    fuzz_targets "${1:-30}" open
}

# The fuzz stage of the test run: the same inputs every time, so it fails only on a fault of
# the change under test, never by chance. Each target replays its seeds, kept corpus and
# regression inputs, then makes KORVANE_FUZZ_RUNS (6000) inputs of its own from a fixed seed,
# starting from an empty scratch corpus rather than what earlier searches kept.
cmd_fuzz_gate() {
    fuzz_targets "${KORVANE_FUZZ_RUNS:-6000}" gate
}

fuzz_targets() {
    ensure_setup
    local amount=$1 mode=$2
    local dir=$ROOT/${KORVANE_FUZZ_DIR:-build/fuzz}
    [ -f "$dir/build.ninja" ] || cmake --preset fuzz -B "$dir" >/dev/null
    cmake --build "$dir" -j "$JOBS" --target korvane_fuzz_all
    rm -rf "$dir/fuzz-seeds"
    "$dir/fuzz/korvane_fuzz_seeds" "$dir/fuzz-seeds" >/dev/null
    local targets=()
    for t in "$dir"/fuzz-seeds/*; do targets+=("$(basename "$t")"); done
    if [ "$mode" = gate ]; then
        echo "== fuzz ${#targets[@]} targets, replay and ${amount} runs each from seed 1"
    else
        echo "== fuzz ${#targets[@]} targets, ${amount}s each"
    fi
    local status=0 running=0 t
    for t in "${targets[@]}"; do
        fuzz_one "$t" "$amount" "$mode" &
        running=$((running + 1))
        if [ "$running" -ge 2 ]; then
            wait -n || status=1
            running=$((running - 1))
        fi
    done
    while [ "$running" -gt 0 ]; do
        wait -n || status=1
        running=$((running - 1))
    done
    for t in "${targets[@]}"; do
        sed -n 's/^FUZZ //p' "$dir/fuzz-logs/$t.log"
    done
    [ $status -eq 0 ] || echo "fuzz: a target found a fault; see $dir/fuzz-logs and fuzz-findings" >&2
    return $status
}

# fuzz_one TARGET AMOUNT open|gate: AMOUNT is seconds of open search, or runs of the gate.
fuzz_one() {
    local t=$1 amount=$2 mode=$3 dir=$ROOT/${KORVANE_FUZZ_DIR:-build/fuzz}
    local corpus=$dir/fuzz-corpus/$t findings=$dir/fuzz-findings/$t log=$dir/fuzz-logs/$t.log
    local kept=$ROOT/tests/fuzz/corpus/$t regressions=$ROOT/tests/fuzz/regressions/$t
    local limit=(-max_total_time="$amount")
    if [ "$mode" = gate ]; then
        # No clock in the gate: a fixed seed and count of runs over a corpus that starts empty.
        corpus=$dir/fuzz-gate-corpus/$t
        rm -rf "$corpus"
        limit=(-seed=1 -runs="$amount" -reload=0)
    fi
    mkdir -p "$corpus" "$findings" "$dir/fuzz-logs"
    local dirs=("$corpus" "$dir/fuzz-seeds/$t")
    [ -d "$kept" ] && dirs+=("$kept")
    [ -d "$regressions" ] && dirs+=("$regressions")
    local rc=0 started=$SECONDS
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$dir/fuzz/$t" "${limit[@]}" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "${dirs[@]}" >"$log" 2>&1 || rc=$?
    local runs rate
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    if [ $rc -eq 0 ]; then
        echo "FUZZ $t: ${runs:-0} runs in $((SECONDS - started))s, ${rate:-0}/s, no finding" >>"$log"
    else
        echo "FUZZ $t: FINDING after ${runs:-?} runs (exit $rc); input in $findings;" \
             "keep it in tests/fuzz/regressions/$t/ once mended" >>"$log"
    fi
    if [ $rc -eq 0 ] && [ "$mode" = open ] && [ "${KORVANE_FUZZ_KEEP:-0}" = 1 ]; then
        mkdir -p "$kept"
        "$dir/fuzz/$t" -merge=1 "$kept" "$corpus" >>"$log" 2>&1 || true
    fi
    return $rc
}

# The tests that run threads (the launch thread, the race-data service's clients, the audio
# and speech threads, the fault tests) under ThreadSanitizer. Only their programs are built.
TSAN_TESTS='launcher|racedata|audio|speech|voice|faults'
TSAN_PROGRAMS=(Qm_Korvane_RaceData Qm_Korvane_Launcher launcher_fake_plugin)

cmd_tsan() {
    ensure_setup
    echo "== build tsan (threaded tests)"
    configure tsan
    local targets=() t
    while read -r t; do
        targets+=("$t")
    done < <(ninja -C build/tsan -t targets all 2>/dev/null | sed -n 's|^tests/\([A-Za-z0-9_]*\): .*EXECUTABLE.*|\1|p' |
             grep -E "$TSAN_TESTS" | grep -v '_replay$' || true)
    for t in "${TSAN_PROGRAMS[@]}"; do targets+=("$t"); done
    cmake --build build/tsan -j "$JOBS" --target "${targets[@]}"
    echo "== test tsan"
    # Debian's cpp-httplib is a shared library built without ThreadSanitizer: its own locking
    # is invisible to the sanitizer, which then reports races between its worker threads.
    local supp=$ROOT/build/tsan/korvane-tsan.supp
    printf '%s\n' 'called_from_lib:libcpp-httplib.so' >"$supp"
    TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$supp} \
        ctest --preset tsan -R "$TSAN_TESTS" -E '_replay$'
}

# Every benchmark program of the optimised build, each for MIN_TIME seconds a case (0.05 in the
# test run: it shows they build and run, the figures come from longer runs; the plugin process
# benchmark runs 3 s of race a case then, 30 s from 1 s up). The plugin's memory and process
# benchmarks race the simulator feed, so the programs run in an IPC and /dev/shm of their own
# where the machine allows it. A benchmark that reports an error fails the run.
cmd_bench() {
    ensure_setup
    local min_time=${1:-0.5} status=0 b out
    echo "== build linux-release (benchmarks)"
    build_preset linux-release
    echo "== bench (min time ${min_time}s)"
    local isolate=()
    if unshare --ipc --mount true 2>/dev/null; then
        isolate=(unshare --ipc --mount sh -c 'mount -t tmpfs tmpfs /dev/shm && exec "$@"' sh)
    fi
    # The benchmarks' programs write their logs into the working folder: not the checkout.
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-bench.XXXXXX")
    for b in "$ROOT"/build/linux-release/bin/*_bench; do
        [ -x "$b" ] || continue
        out=$(cd "$work" && "${isolate[@]}" "$b" --benchmark_min_time="$min_time" \
                  --benchmark_color=false 2>&1) || status=1
        echo "$out"
        if grep -q 'ERROR OCCURRED' <<<"$out"; then
            echo "bench: $(basename "$b") reported an error" >&2
            status=1
        fi
    done
    rm -rf "$work"
    return $status
}

# The release number: the one definition, the project's VERSION in CMakeLists.txt.
release_version() {
    sed -n 's/^project(BrenvikKorvane VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt"
}

# The driver's packages in dist/, from the Release builds of both platforms (the windows and
# linux-release presets, whose folders the tests and benchmarks build anyway).
cmd_package() {
    ensure_setup
    echo "== build the Release programs (windows, linux-release)"
    configure windows
    cmake --build build/windows -j "$JOBS" --target Qm_Korvane_Launcher Qm_Korvane_Plugin
    # A folder configured before linux-release became a Release build is set up again.
    if ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' build/linux-release/CMakeCache.txt 2>/dev/null; then
        cmake --preset linux-release >/dev/null
    fi
    cmake --build build/linux-release -j "$JOBS" --target Qm_Korvane_Launcher Qm_Korvane_Plugin
    echo "== package"
    "$ROOT/tools/package/package.sh" "$(release_version)" build/windows/bin \
        build/linux-release/bin "$ROOT/dist"
}

# ./dev.sh publish DIR: the release of this tree into the race-data service files folder DIR
# (packaged first when dist/ does not hold it).
cmd_publish() {
    [ $# -eq 1 ] || usage
    local version dir=$1
    # A relative folder is the caller's, from before dev.sh moved into the checkout.
    [[ $dir = /* ]] || dir=$CALLER_DIR/$dir
    version=$(release_version)
    if [ ! -f "dist/Brenvik-Korvane-$version-windows-x64.zip" ] ||
       [ ! -f "dist/brenvik-korvane-$version-linux-x86_64.tar.gz" ]; then
        cmd_package
    fi
    "$ROOT/tools/package/publish.sh" "$version" "$ROOT/dist" "$dir"
}

# Each package unpacked and run as a driver would, against a race-data service on this
# machine that a newer plugin was published to with ./dev.sh publish: natively for Linux (in
# an IPC and /dev/shm of its own where the machine allows), under Wine for Windows.
cmd_package_test() {
    local status=0
    cmd_package
    cmake --build build/linux-release -j "$JOBS" --target Qm_Korvane_RaceData
    cmake --build build/windows -j "$JOBS" --target pipe_driver
    local isolate=()
    if unshare --ipc --mount true 2>/dev/null; then
        isolate=(unshare --ipc --mount sh -c 'mount -t tmpfs tmpfs /dev/shm && exec "$@"' sh)
    fi
    local common=(--version "$(release_version)" --dist "$ROOT/dist" --dev "$ROOT/dev.sh"
                  --racedata "$ROOT/build/linux-release/bin/Qm_Korvane_RaceData"
                  --scratch "$ROOT/build/package-test")
    echo "== package test linux"
    "${isolate[@]}" python3 "$ROOT/tests/package/package_e2e.py" --platform linux "${common[@]}" ||
        status=1
    echo "== package test windows (Wine)"
    wine_session_start
    python3 "$ROOT/tests/package/package_e2e.py" --platform windows "${common[@]}" \
        --wine "$ROOT/tools/wine-run.sh" --driver "$ROOT/build/windows/tests/pipe_driver.exe" ||
        status=1
    wineserver -k >/dev/null 2>&1 || true
    return $status
}

# The race-outcome benchmark: the plugin against the simulator feed's scenarios, judged from
# the feed's truth (tools/outcome/outcome.py). --short is the set the test run uses.
cmd_outcome() {
    ensure_setup
    build_preset linux-release
    python3 "$ROOT/tools/outcome/outcome.py" "$@"
}

cmd_demo() {
    ensure_setup
    build_preset linux-release
    exec "$ROOT/tools/demo/run-demo.sh" "$@"
}

usage() {
    echo "usage: ./dev.sh setup|build [preset...]|test|fuzz [SECONDS]|fuzz-gate|tsan|bench [MIN_TIME]|demo [--scenario NAME]|outcome [--short] [SCENARIO...]|package|publish DIR|package-test" >&2
    exit 2
}

[ $# -ge 1 ] || usage
sub=$1
shift
case "$sub" in
    setup) cmd_setup ;;
    build) cmd_build "$@" ;;
    test) cmd_test ;;
    fuzz) cmd_fuzz "$@" ;;
    fuzz-gate) cmd_fuzz_gate ;;
    tsan) cmd_tsan ;;
    bench) cmd_bench "$@" ;;
    demo) cmd_demo "$@" ;;
    package) cmd_package ;;
    publish) cmd_publish "$@" ;;
    package-test) cmd_package_test ;;
    outcome) cmd_outcome "$@" ;;
    *) usage ;;
esac

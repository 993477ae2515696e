#!/usr/bin/env bash
# The one test command: installs what is missing, configures build/ (Ninja,
# RelWithDebInfo), builds everything (libraries, tests, simulator, command-line client,
# benchmarks) and runs the whole test suite. Exits with ctest's status.
#
# TAVIRO_BUILD_DIR picks another build directory (relative to the repository root or
# absolute); TAVIRO_JOBS the parallelism of build and tests (default 2).
set -euo pipefail

root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

build_dir=${TAVIRO_BUILD_DIR:-build}
jobs=${TAVIRO_JOBS:-2}

"$root/scripts/install-deps.sh"

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVIRO_BUILD_TESTS=ON -DTAVIRO_BUILD_BENCH=ON
cmake --build "$build_dir" -j "$jobs"

# The sound tests need a sound server: without one, a PulseAudio daemon with a null sink
# (its monitor is what the tests record) runs for this user until the session ends.
if command -v pactl >/dev/null 2>&1 && ! pactl info >/dev/null 2>&1; then
    pulseaudio -D --exit-idle-time=-1 -n -L module-native-protocol-unix \
        -L "module-null-sink sink_name=taviro_null" -L module-always-sink 2>/dev/null || true
    for _ in $(seq 50); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl set-default-sink taviro_null 2>/dev/null || true
fi

# The window tests need a display: without one, the whole run gets a virtual one (Xvfb).
run=()
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    run=(xvfb-run -a -s "-screen 0 1920x1080x24")
fi

status=0
"${run[@]}" ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" || status=$?
exit "$status"

#!/usr/bin/env bash
# The demo: builds the desktop client and the recorder simulator, starts the simulator on a
# free loopback port (16 channels of camera-like video with titles), and starts the client,
# which opens its connect dialog filled with the simulator's address and connects.
#
# With a display the client stays until you quit it (the Quit button). Without one (a
# headless machine, no DISPLAY) it runs on a virtual framebuffer (Xvfb) and writes a
# screenshot of the main window to demo-screenshot.png after a few seconds, then quits.
#
# The client keeps its settings for the demo in <build>/demo-settings.ini, so the user's
# own settings are not touched. Extra arguments go to the client (for example --player).
set -euo pipefail

root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build_dir=${TAVIRO_BUILD_DIR:-build}

"$root/scripts/install-deps.sh"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j "${TAVIRO_JOBS:-2}" --target taviro-recorder-sim taviro taviro_skin

work=$(mktemp -d "${TMPDIR:-/tmp}/taviro-demo.XXXXXX")
sim_pid=
cleanup() {
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

titles=(Gate Yard Hall Garage "Loading Dock" Lobby Office Parking Entrance Stairs Roof
        Warehouse Corridor Canteen "Server Room" "Back Door")
title_args=()
for t in "${titles[@]}"; do
    title_args+=(--title "$t")
done
"$build_dir/sim/taviro-recorder-sim" --port 0 --port-file "$work/port" \
    --journal "$work/journal.jsonl" --user admin:1234 --push-records \
    --live-size 704x480 --live-fps 25 --camera 0xffff "${title_args[@]}" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/port" ]] && break
    sleep 0.05
done
port=$(cat "$work/port")
# The camera-like video is encoded in the background (a few seconds); channels show the
# test pattern until it is ready, so the client starts once it is.
for _ in $(seq 300); do
    grep -q "camera video" "$work/sim.log" && break
    sleep 0.1
done
grep "camera video" "$work/sim.log" || true
echo "recorder simulator listening on 127.0.0.1:$port (user admin, password 1234)"

client=("$build_dir/src/app/ui/taviro" --connect "127.0.0.1:$port" --user admin
        --password 1234 --settings "$build_dir/demo-settings.ini" "$@")
export TAVIRO_SKIN="$root/$build_dir/skin"
[[ "$build_dir" = /* ]] && export TAVIRO_SKIN="$build_dir/skin"

status=0
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    "${client[@]}" || status=$?
else
    shot="$root/demo-screenshot.png"
    echo "no display: running the client on a virtual framebuffer"
    xvfb-run -a -s "-screen 0 1280x800x24" "${client[@]}" --screenshot "$shot" \
        --screenshot-after 6 --quit-after 7 || status=$?
    [[ -s "$shot" ]] && echo "the main window as it looked after 6 seconds: $shot"
fi

kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
sim_pid=
echo
echo "what the recorder received (journal, messages from the client):"
python3 - "$work/journal.jsonl" <<'PY'
import collections, json, sys
seen = collections.Counter()
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e.get("dir") == "rx":
        seen[e["name"]] += 1
for name, count in seen.most_common():
    print(f"  {name:20s} {count}")
PY
exit "$status"

#!/usr/bin/env bash
# The command-line demo: builds taviro-cli and the recorder simulator, starts the
# simulator on a free loopback port, and runs taviro-cli against it:
#   1. `connect` logs in, prints what the recorder said about itself, stays connected for a
#      few seconds (sending keep-alives) and disconnects in order; the simulator's journal
#      then shows every message both ways;
#   2. `live` watches all 16 channels for a few seconds through the real decoder pipeline,
#      prints what each channel received and decoded, and saves each channel's last
#      picture (PPM) into demo-pictures/.
#
# Extra arguments go to taviro-cli connect (for example --seconds 12 or --json).
set -euo pipefail

root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build_dir=${TAVIRO_BUILD_DIR:-build}

"$root/scripts/install-deps.sh"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j "${TAVIRO_JOBS:-2}" --target taviro-recorder-sim taviro-cli

work=$(mktemp -d "${TMPDIR:-/tmp}/taviro-demo.XXXXXX")
sim_pid=
cleanup() {
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$build_dir/sim/taviro-recorder-sim" --port 0 --port-file "$work/port" --once \
    --journal "$work/journal.jsonl" --user admin:1234 \
    --firmware MAIN=2010-10-11T12:00:00 --firmware BOOT=2010-01-01T00:00:00 \
    --push-records --title Gate --title Yard --title Hall --title Garage &
sim_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/port" ]] && break
    sleep 0.05
done
port=$(cat "$work/port")
echo "recorder simulator listening on 127.0.0.1:$port"
echo

status=0
"$build_dir/src/cli/taviro-cli" connect --host 127.0.0.1 --port "$port" --user admin \
    --password 1234 --seconds 3 --storage "$work/storage" "$@" || status=$?

wait "$sim_pid" 2>/dev/null || true
sim_pid=
echo
echo "what the recorder saw and said (journal):"
python3 - "$work/journal.jsonl" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    if "event" in e:
        print(f"  {e['t']:7.3f}  -- {e['event']} {e.get('why', '')}".rstrip())
    else:
        arrow = "client -> recorder" if e["dir"] == "rx" else "recorder -> client"
        print(f"  {e['t']:7.3f}  {arrow}  {e['name']} ({e['code']}), {e['length']} bytes")
PY

[[ $status -eq 0 ]] || exit "$status"
echo
echo "live view of all 16 channels for 4 seconds:"
"$build_dir/sim/taviro-recorder-sim" --port 0 --port-file "$work/port2" --once \
    --user admin:1234 --push-records --title Gate --title Yard --title Hall --title Garage \
    >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/port2" ]] && break
    sleep 0.05
done
"$build_dir/src/cli/taviro-cli" live --host 127.0.0.1 --port "$(cat "$work/port2")" \
    --user admin --password 1234 --seconds 4 --storage "$work/storage" \
    --save-dir "$root/demo-pictures" || status=$?
wait "$sim_pid" 2>/dev/null || true
sim_pid=
echo "the last picture of every channel is in demo-pictures/ (chNN.ppm)"
exit "$status"

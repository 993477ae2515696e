#!/bin/sh
# Runs a command in a D-Bus session of its own in which GNOME Keyring serves secrets, its
# keyrings in a temporary folder that goes afterwards: the user's own keyring is never
# touched, and a machine without a desktop session can run the tests of remembered
# passwords. Used by ctest for those tests.
set -eu
for tool in dbus-run-session gnome-keyring-daemon; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "with-keyring: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/data" "$scratch/run"
chmod 700 "$scratch/run"
status=0
XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/run" \
    dbus-run-session -- sh -c '
        # A new login keyring, unlocked with this password, holds the secrets.
        printf "taviro-test" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
        exec "$@"' sh "$@" || status=$?
exit "$status"

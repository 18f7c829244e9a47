#!/usr/bin/env bash
# Runs a command on the current X display with openbox managing its windows,
# so that windows get a real title bar as they do on a desktop.
set -uo pipefail
openbox >/dev/null 2>&1 &
wm=$!
for _ in $(seq 50); do
    wmctrl -m >/dev/null 2>&1 && break
    sleep 0.1
done
"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit $status

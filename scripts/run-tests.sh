#!/usr/bin/env bash
# Installs everything, builds everything, and runs every test. GUI tests need an X
# display: without one, a private Xvfb with a window manager is started. A test that
# this machine cannot run is skipped, and listed at the end with its reason.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh" tests
BUILD_DIR="$build" "$root/scripts/build.sh" "$@"

results="$build/Testing/results.xml"
rm -f "$results"
tests=(ctest --test-dir "$build" --output-on-failure --no-tests=error --output-junit "$results" -j "$(nproc)")
status=0
if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$root/scripts/with-window-manager.sh" "${tests[@]}" || status=$?
else
    "${tests[@]}" || status=$?
fi

if [ -f "$results" ]; then
    skipped="$("$root/scripts/skipped-tests.sh" "$results")"
    if [ -n "$skipped" ]; then
        echo
        echo "Skipped, with the reasons they gave:"
        sed 's/^/    /' <<<"$skipped"
    fi
fi
exit $status

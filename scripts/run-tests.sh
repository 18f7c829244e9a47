#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test. GUI tests need an X
# display: without one, a private Xvfb with a window manager is started.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
BUILD_DIR="$build" "$root/scripts/build.sh" "$@"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$root/scripts/with-window-manager.sh" \
        ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
fi
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

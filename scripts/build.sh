#!/usr/bin/env bash
# Configures and builds into build/ (or into $BUILD_DIR); extra arguments go to cmake.
#   build.sh [--target NAME] [CMAKE_ARGUMENT...]
# With --target only that target and what it needs are built; without, everything.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
target=()
if [ "${1:-}" = --target ]; then
    target=(--target "$2")
    shift 2
fi
# Ninja starts each of our sources as soon as it can, so the framework's longest module alone
# bounds a clean build; a folder configured before keeps the generator it has.
generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi
cmake -S "$root" -B "$build" "${generator[@]}" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)" "${target[@]}"

#!/usr/bin/env bash
# Installs the dependencies, builds the application and starts it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
BUILD_DIR="$build" "$root/scripts/build.sh" "$@"

app="$(find "$build/KestrovaUpdater_artefacts" -type f -name KestrovaUpdater -perm -u+x 2>/dev/null | head -n 1)"
if [ -z "$app" ]; then
    echo "Built the library; there is no application target yet." >&2
    exit 0
fi
exec "$app"

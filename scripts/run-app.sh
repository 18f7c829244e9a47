#!/usr/bin/env bash
# Installs what the program needs, builds the program alone and starts it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh" program
BUILD_DIR="$build" "$root/scripts/build.sh" --target KestrovaUpdater "$@"

app="$(find "$build/KestrovaUpdater_artefacts" -type f -name KestrovaUpdater -perm -u+x 2>/dev/null | head -n 1)"
if [ -z "$app" ]; then
    echo "The build produced no KestrovaUpdater program under $build." >&2
    exit 1
fi
exec "$app"

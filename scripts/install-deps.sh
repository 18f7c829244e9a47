#!/usr/bin/env bash
# Installs on Debian 12 what the given use needs:
#   program  the compiler, CMake, JUCE and what it links: enough to build and start the program
#   tests    everything: the program's set, the test libraries, the X display tools for the
#            GUI tests, and qemu with a kernel for the test over a real ALSA port
set -euo pipefail

program_packages=(
    build-essential cmake ninja-build pkg-config
    juce-modules-source libcurl4-gnutls-dev libasound2-dev
)
test_packages=(
    libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev
    xvfb xauth openbox wmctrl xdotool x11-utils imagemagick
    qemu-system-x86 linux-image-amd64 busybox-static alsa-utils
)

case "${1:-}" in
    program) packages=("${program_packages[@]}") ;;
    tests)   packages=("${program_packages[@]}" "${test_packages[@]}") ;;
    *)
        echo "usage: $0 program|tests" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

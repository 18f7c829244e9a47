#!/usr/bin/env bash
# Installs everything the build, the tests and the GUI tests need on Debian 12.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    juce-modules-source libcurl4-gnutls-dev libasound2-dev
    libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev
    xvfb xauth openbox wmctrl xdotool x11-utils imagemagick
)

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

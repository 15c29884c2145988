#!/usr/bin/env bash
# Installs the Debian packages Velnar needs, skipping those already present.
#   tools/install-deps.sh          what building and running the phone needs
#   tools/install-deps.sh --test   that, plus what the test suite needs
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-qpa-plugins libgl-dev
    libasound2-dev libasound2-plugins libpulse-dev libgsm1-dev
)
if [ "${1:-}" = "--test" ]; then
    packages+=(
        clang libclang-rt-14-dev clang-format clang-tidy ccache
        googletest libgtest-dev libgmock-dev libbenchmark-dev
        pulseaudio pulseaudio-utils alsa-utils
        sox libsox-fmt-base
        xvfb xauth fonts-dejavu-core
        lintian
        qt6-base-private-dev dbus-daemon
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

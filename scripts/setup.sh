#!/usr/bin/env bash
# Installs what building and testing mivo needs on Debian 12 (run as root, or
# with sudo available). Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    clang clang-tidy clang-format valgrind
    libsdl2-dev libsndfile1-dev libpulse-dev libspeexdsp-dev libsoxr-dev pulseaudio pulseaudio-utils sox
    pipewire pipewire-bin wireplumber libpipewire-0.3-modules libspa-0.2-modules libpipewire-0.3-dev
    g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 binutils-mingw-w64-x86-64
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300)
"${apt[@]}" update -qq
"${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"

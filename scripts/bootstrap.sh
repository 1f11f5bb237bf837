#!/usr/bin/env bash
# Installs with apt whatever the build and the tests need and is not there yet.
# Safe to run again: it installs nothing when everything is present.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config clang-format clang libclang-rt-14-dev
    qt6-base-dev qt6-serialport-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb jwm x11-utils xdotool fonts-dejavu-core
    python3 python3-jsonschema tmux
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

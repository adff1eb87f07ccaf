#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run, test and benchmark.
set -euo pipefail

packages=(
  build-essential cmake pkg-config g++ clang libclang-rt-14-dev llvm-14
  libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libsoxr-dev libcli11-dev nlohmann-json3-dev libsystemd-dev
  dbus-daemon dbus-bin sox python3 time
  libpulse-dev pulseaudio pulseaudio-utils pipewire pipewire-bin pipewire-pulse wireplumber
  help2man man-db groff-base bash-completion
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

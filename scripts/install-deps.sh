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

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -gt 0 ] || exit 0
echo "installing: ${missing[*]}"
install="apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ${missing[*]}"
# Only the packages need root: as an ordinary user, through sudo where it is
# installed, else su (which asks for root's password), so that everything
# else (the build) stays the user's.
if [ "$(id -u)" -eq 0 ]; then
  sh -c "$install"
elif command -v sudo >/dev/null; then
  sudo sh -c "$install"
else
  echo "root's password, to install the packages:"
  su root -c "$install"
fi

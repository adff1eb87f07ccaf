#!/usr/bin/env bash
# Configures and builds one preset (default: release).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
if [ -e "build/$preset" ] && [ ! -w "build/$preset" ]; then
  echo "build/$preset belongs to $(stat -c %U "build/$preset"), not to you: remove it as its owner" \
    "(rm -rf build/$preset), then build again as yourself" >&2
  exit 1
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

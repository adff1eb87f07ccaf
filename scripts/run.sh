#!/usr/bin/env bash
# Builds the release preset and runs one broadcast through the extension;
# arguments go to the broadcast host (none: the built-in broadcast).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release
exec build/release/extension/broadcast-extension "$@"

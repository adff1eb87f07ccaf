#!/usr/bin/env bash
# One long broadcast at full speed through the real host (default: 24 hours
# of 16-bit stereo 44.1 kHz app audio, about 15 GB): the recording must pass
# 4 GiB as RF64, open in sox and libsndfile with every frame, and the host's
# peak memory must stay what a short broadcast needs. Needs about twice the
# recording's size in free disk space.
#   bench/soak.sh [hours]
set -euo pipefail
cd "$(dirname "$0")/.."
hours="${1:-24}"
seconds=$(awk -v h="$hours" 'BEGIN{printf "%d", h*3600}')
scripts/build.sh release >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder-soak-XXXXXX")
trap 'rm -rf "$work"' EXIT
host=build/release/extension/broadcast-extension

peak() {  # peak RSS in KiB and wall seconds of one broadcast of $1 seconds
  /usr/bin/time -f '%M %e' "$host" --quiet --duration "$1" --video-rate 60 --app-source sine:440 \
    --container-root "$work/containers" --temp-dir "$work" 2>&1 >/dev/null | tail -n 1
}
read -r short_kib short_s < <(peak 60)
rm -rf "$work/containers" "$work"/broadcast-extension-*
read -r long_kib long_s < <(peak "$seconds")
shared="$work/containers/group.tolvix/NewRecording.wav"
bytes=$(stat -c %s "$shared")
kind=$(head -c 4 "$shared")
frames=$(soxi -s "$shared")
expected=$((seconds * 44100))
echo "| ${hours} h broadcast at full speed | ${long_s} s wall, $((bytes / 1048576)) MiB, ${kind} | frames ${frames} (expected ${expected}) | peak RSS ${long_kib} KiB vs ${short_kib} KiB for 60 s |"
[ "$kind" = "RF64" ] || [ "$bytes" -lt 4294967296 ] || { echo "a file past 4 GiB is not RF64" >&2; exit 1; }
[ "$frames" -eq "$expected" ] || { echo "frame count differs" >&2; exit 1; }

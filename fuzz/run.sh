#!/bin/sh
# Builds the fuzz preset and runs the media writer fuzzer for a bounded time.
#   fuzz/run.sh [seconds]      (default 30)
# FUZZ_BUILD_DIR overrides the build directory (default: the preset's).
set -eu
seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}

cmake --preset fuzz -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target writer_fuzz -j2

corpus=$(mktemp -d "${TMPDIR:-/tmp}/writer-fuzz-corpus.XXXXXX")
trap 'rm -rf "$corpus"' EXIT INT TERM
# Crash inputs, if any, are kept in the build directory for reproduction.
"$build/fuzz/writer_fuzz" -max_total_time="$seconds" -max_len=16384 -timeout=20 \
  -rss_limit_mb=2048 -artifact_prefix="$build/fuzz/" -print_final_stats=1 "$corpus"

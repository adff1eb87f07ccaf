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

# Crash reports name functions only with the symbolizer of the compiler that
# built the fuzzer (Debian package llvm-14).
symbolizer=$(clang++ -print-prog-name=llvm-symbolizer)
if [ -x "$symbolizer" ]; then
  export ASAN_SYMBOLIZER_PATH="${ASAN_SYMBOLIZER_PATH:-$symbolizer}"
else
  echo "fuzz/run.sh: llvm-symbolizer not found; crash reports will lack function names" >&2
fi

corpus=$(mktemp -d "${TMPDIR:-/tmp}/writer-fuzz-corpus.XXXXXX")
trap 'rm -rf "$corpus"' EXIT INT TERM
# Crash inputs, if any, are kept in the build directory for reproduction.
"$build/fuzz/writer_fuzz" -max_total_time="$seconds" -max_len=16384 -timeout=20 \
  -rss_limit_mb=2048 -artifact_prefix="$build/fuzz/" -print_final_stats=1 "$corpus"

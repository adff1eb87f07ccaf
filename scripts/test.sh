#!/usr/bin/env bash
# Builds and runs the whole test suite: the release build, the same tests
# under the address and undefined-behaviour sanitizers, and a bounded run of
# the writer's fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds="${FUZZ_SECONDS:-30}"

echo "== release build and tests"
scripts/build.sh release
ctest --preset release

echo "== sanitizer build and tests"
scripts/build.sh asan
ctest --preset asan

if [ -x fuzz/run.sh ] && [ "$fuzz_seconds" -gt 0 ]; then
  echo "== fuzzing the writer for ${fuzz_seconds}s"
  fuzz/run.sh "$fuzz_seconds"
fi
echo "== all tests passed"

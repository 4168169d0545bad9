#!/usr/bin/env bash
# Sets up the machine, then builds and tests two trees: build/ (the normal
# build, with the i386 launcher) and build-asan/ (everything under
# AddressSanitizer and UBSan); then runs the end-to-end suite under valgrind
# memcheck, the static analysis and every fuzz target (FUZZ_SECONDS each,
# 60 by default). Fails when a build fails, when a check fails, or when a
# tree runs no test at all. Safe to run again.
#
#   sudo scripts/test.sh
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT="$(pwd)"
# The machines this runs on have two cores.
JOBS="${JOBS:-2}"

scripts/install-deps.sh

# Each step is checked on its own: a failed build must not let ctest run
# stale binaries and report success.
build_and_test() {
  local dir="$1"
  shift
  echo "== configure $dir ($*)"
  cmake -S "$ROOT" -B "$ROOT/$dir" "$@" || return 1
  echo "== build $dir"
  cmake --build "$ROOT/$dir" -j "$JOBS" || return 1
  echo "== test $dir"
  (cd "$ROOT/$dir" && ctest --output-on-failure --no-tests=error -j "$JOBS") || return 1
}

failed=()
build_and_test build -DLAUNCHER_M32=ON || failed+=(build)
build_and_test build-asan -DLAUNCHER_SANITIZE=ON || failed+=(build-asan)
if [[ ! " ${failed[*]-} " =~ " build " ]]; then
  echo "== memcheck"
  scripts/memcheck.sh build || failed+=(memcheck)
fi
echo "== static analysis"
scripts/analyze.sh || failed+=(analysis)
echo "== fuzzing"
scripts/fuzz.sh || failed+=(fuzzing)

if [ "${#failed[@]}" -ne 0 ]; then
  echo "test.sh: FAILED in ${failed[*]}" >&2
  exit 1
fi
echo "test.sh: all tests and checks passed"

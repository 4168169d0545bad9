#!/usr/bin/env bash
# Sets up the machine, then builds and tests two trees: build/ (the normal
# build, with the i386 launcher) and build-asan/ (everything under
# AddressSanitizer and UBSan); then runs the end-to-end suite under valgrind
# memcheck, the static analysis and a smoke run of every fuzz target. Fails
# when a build fails, when a check fails, or when a tree runs no test at all.
# Prints the time each stage took at the end. Safe to run again.
#
#   ./scripts/test.sh                    about 5 minutes on two cores
#   FUZZ_SECONDS=600 ./scripts/test.sh   with a real fuzzing campaign
#                                        (ten minutes a target, two at a time)
#
# Runs as any user. Installing missing packages asks for sudo (see
# install-deps.sh), and so do the tests: part of them check what the launcher
# does for root (admin mode, other users' files and ids), so ctest and
# memcheck run as root; the builds, the analysis and fuzzing stay the user's.
# Each stage writes to its own log, shown when the stage fails. Environment: JOBS (parallel jobs, default 2), FUZZ_SECONDS (per fuzz
# target, default 20), and those of memcheck.sh, analyze.sh and fuzz.sh.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT="$(pwd)"
# The machines this runs on have two cores.
JOBS="${JOBS:-2}"

LOGS="$(mktemp -d "${TMPDIR:-/tmp}/launcher-test.XXXXXX")"
STARTED=$SECONDS
names=()
times=()
failed=()

# stage NAME COMMAND...: runs COMMAND with its output in a log of its own,
# records how long it took, and shows the log when it fails.
stage() {
  local name="$1" log="$LOGS/$1.log" started=$SECONDS status=0
  shift
  printf '== %-16s ' "$name"
  "$@" >"$log" 2>&1 </dev/null || status=$?
  local took=$((SECONDS - started))
  names+=("$name")
  times+=("$took")
  if [ "$status" -eq 0 ]; then
    echo "ok ($took s)"
    # What was checked, from the stage's own summary line.
    sed -n -E 's/^(.*% tests passed.*|memcheck: [0-9]+ launcher runs.*|fuzz: .*|-- (cppcheck|clang-tidy): .*)$/   \1/p' "$log"
    return 0
  fi
  echo "FAILED ($took s, exit status $status); its log, $log:"
  cat "$log"
  failed+=("$name")
  return 1
}

# Each step is checked on its own: a failed build must not let ctest run
# stale binaries and report success.
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$ROOT/$dir" "$@" && cmake --build "$ROOT/$dir" -j "$JOBS"
}
run_ctest() {
  (cd "$ROOT/$1" && "${AS_ROOT[@]}" ctest --output-on-failure --no-tests=error -j "$JOBS")
}

# Not a stage of its own log: it prints one line, and sudo may ask for a
# password on the terminal.
deps_started=$SECONDS
scripts/install-deps.sh
names+=(install-deps)
times+=($((SECONDS - deps_started)))

AS_ROOT=()
if [ "$(id -u)" -ne 0 ]; then
  # The stages run without a terminal: ask for the password now, once.
  if ! command -v sudo >/dev/null; then
    echo "test.sh: the tests run as root: run this as root, or install sudo" >&2
    exit 1
  fi
  echo "test.sh: the tests run as root; asking sudo"
  sudo -v
  AS_ROOT=(sudo -n)
fi

if stage build configure_and_build build -DLAUNCHER_M32=ON; then
  stage tests-build run_ctest build || true
fi
# The sanitizer tree is built without optimisation: its tests run in seconds
# either way, and -O0 compiles in a third of the time. The optimised release
# build is what build/ and memcheck check.
if stage build-asan configure_and_build build-asan -DLAUNCHER_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=Debug; then
  stage tests-asan run_ctest build-asan || true
fi
if [[ " ${failed[*]-} " =~ " build " ]]; then
  # memcheck checks the binary of build/; without it the check cannot run,
  # and that is a failure, not a skip.
  echo "== memcheck         not run: build/ failed"
  failed+=(memcheck)
else
  stage memcheck "${AS_ROOT[@]}" scripts/memcheck.sh build || true
fi
stage analysis scripts/analyze.sh || true
stage fuzzing scripts/fuzz.sh || true

echo "== stage times"
for i in "${!names[@]}"; do
  printf '   %-16s %4d s\n' "${names[$i]}" "${times[$i]}"
done
total=$((SECONDS - STARTED))
printf '   %-16s %4d s (%d min %d s)\n' total "$total" $((total / 60)) $((total % 60))

if [ "${#failed[@]}" -ne 0 ]; then
  echo "test.sh: FAILED in ${failed[*]} (logs in $LOGS)" >&2
  exit 1
fi
rm -rf "$LOGS"
echo "test.sh: all tests and checks passed"

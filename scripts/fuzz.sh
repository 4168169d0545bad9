#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, ASan, UBSan) and runs each on
# a copy of its seed corpus for a bounded time. Fails when any target reports
# a finding (crash, sanitizer report, leak, time-out, broken property) or a
# kept regression test fails.
#
#   scripts/fuzz.sh                 every target, 60 s each
#   FUZZ_SECONDS=10 scripts/fuzz.sh
#   scripts/fuzz.sh version paths   only the named targets
#
# Environment: FUZZ_SECONDS (default 60), FUZZ_BUILD_DIR (default
# build-fuzz), CXX (default clang++-14, else clang++).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${FUZZ_SECONDS:-60}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cxx="${CXX:-}"
if [ -z "$cxx" ]; then
  if command -v clang++-14 >/dev/null; then cxx=clang++-14; else cxx=clang++; fi
fi

all_targets=(ini cmdline keylist agent_config installed version placeholder
             separators paths)
if [ "$#" -gt 0 ]; then targets=("$@"); else targets=("${all_targets[@]}"); fi

started=$SECONDS
echo "== building fuzz targets in $build with $cxx"
mkdir -p "$build"
if ! { cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER="$cxx" &&
       cmake --build "$build" -j2; } >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  echo "fuzz build failed" >&2
  exit 1
fi

# The file readers write every input to a scratch file; on tmpfs that is some
# thirty times faster than on a disk, so prefer it when there is one.
scratch_base="${TMPDIR:-/tmp}"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_base=/dev/shm; fi
work="$(mktemp -d "$scratch_base/launcher-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT
artifacts="$build/artifacts"
mkdir -p "$artifacts"

status=0
summary=()
for t in "${targets[@]}"; do
  binary="$build/${t}_fuzzer"
  if [ ! -x "$binary" ]; then
    echo "unknown fuzz target: $t" >&2
    exit 2
  fi
  corpus="$work/corpus-$t"
  mkdir -p "$corpus" "$work/tmp-$t"
  cp fuzz/corpus/"$t"/* "$corpus"/
  log="$work/$t.log"
  echo "== $t: ${seconds}s"
  set +e
  TMPDIR="$work/tmp-$t" "$binary" "$corpus" \
    -max_total_time="$seconds" -print_final_stats=1 -max_len=4096 \
    -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/$t-" \
    >"$log" 2>&1
  rc=$?
  set -e
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  if [ "$rc" -ne 0 ]; then
    status=1
    summary+=("$(printf '%-14s FAILED (exit %d), %s runs' "$t" "$rc" "${runs:-?}")")
    echo "-- $t found a problem; the end of its log:" >&2
    tail -n 60 "$log" >&2
    echo "-- input kept under $artifacts/$t-*" >&2
  else
    summary+=("$(printf '%-14s ok, %s runs' "$t" "${runs:-?}")")
  fi
done

# Former findings stay fixed.
if [ -x "$build/fuzz_regressions" ]; then
  echo "== regression tests"
  if ! "$build/fuzz_regressions" --gtest_brief=1; then status=1; fi
fi

echo "== fuzz summary ($((SECONDS - started)) s)"
printf '%s\n' "${summary[@]}"
exit "$status"

#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, ASan, UBSan) and runs each on
# a copy of its seed corpus for a bounded time, FUZZ_JOBS targets at a time.
# Fails when any target reports a finding (crash, sanitizer report, leak,
# time-out, broken property) or a kept regression test fails.
#
#   scripts/fuzz.sh                    every target, 20 s each: a smoke run
#   FUZZ_SECONDS=600 scripts/fuzz.sh   a real campaign, ten minutes a target
#   scripts/fuzz.sh version paths      only the named targets
#
# The short default keeps scripts/test.sh quick: a smoke run replays the seed
# corpus and mutates it a little, enough to catch what a change plainly broke;
# finding new faults takes a campaign of minutes per target.
#
# Environment: FUZZ_SECONDS (default 20), FUZZ_JOBS (default 2: targets run
# side by side, one per core), FUZZ_BUILD_DIR (default build-fuzz), CXX
# (default clang++-14, else clang++).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${FUZZ_SECONDS:-20}"
jobs="${FUZZ_JOBS:-2}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cxx="${CXX:-}"
if [ -z "$cxx" ]; then
  if command -v clang++-14 >/dev/null; then cxx=clang++-14; else cxx=clang++; fi
fi

# Every fuzz/NAME_fuzzer.cpp is a target, so a new one is never left out.
all_targets=()
for f in fuzz/*_fuzzer.cpp; do
  f="${f##*/}"
  all_targets+=("${f%_fuzzer.cpp}")
done
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

for t in "${targets[@]}"; do
  if [ ! -x "$build/${t}_fuzzer" ]; then
    echo "unknown fuzz target: $t" >&2
    exit 2
  fi
done

# One target's run; its exit status goes to $work/$t.rc.
fuzz_one() {
  local t="$1" corpus="$work/corpus-$t" rc=0
  mkdir -p "$corpus" "$work/tmp-$t"
  cp fuzz/corpus/"$t"/* "$corpus"/
  TMPDIR="$work/tmp-$t" "$build/${t}_fuzzer" "$corpus" \
    -max_total_time="$seconds" -print_final_stats=1 -max_len=4096 \
    -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/$t-" \
    >"$work/$t.log" 2>&1 || rc=$?
  echo "$rc" >"$work/$t.rc"
}

echo "== ${#targets[@]} targets, ${seconds}s each, $jobs at a time"
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$t" &
  running=$((running + 1))
done
wait

status=0
summary=()
for t in "${targets[@]}"; do
  log="$work/$t.log"
  rc="$(cat "$work/$t.rc" 2>/dev/null || echo '?')"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  if [ "$rc" != 0 ]; then
    status=1
    summary+=("$(printf '%-14s FAILED (exit %s), %s runs' "$t" "$rc" "${runs:-?}")")
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
echo "fuzz: ${#targets[@]} targets, ${seconds} s each: $([ "$status" -eq 0 ] && echo no findings || echo FINDINGS)"
exit "$status"

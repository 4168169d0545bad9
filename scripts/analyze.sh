#!/usr/bin/env bash
# Static analysis of src/: cppcheck with .cppcheck-suppressions, then
# clang-tidy with .clang-tidy. Fails on any finding of either.
#
# Environment: ANALYZE_BUILD_DIR (default build-analyze: only configured, for
# its compile_commands.json), CPPCHECK, CLANG_TIDY.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

build="${ANALYZE_BUILD_DIR:-build-analyze}"
cppcheck="${CPPCHECK:-cppcheck}"
tidy="${CLANG_TIDY:-}"
if [ -z "$tidy" ]; then
  if command -v clang-tidy-14 >/dev/null; then tidy=clang-tidy-14; else tidy=clang-tidy; fi
fi

started=$SECONDS
status=0
work="$(mktemp)"
trap 'rm -f "$work"' EXIT

echo "== cppcheck ($("$cppcheck" --version))"
if ! "$cppcheck" --std=c++17 --language=c++ -I src/launcher -I src/check --library=posix \
    --enable=warning,style,performance,portability \
    --suppressions-list=.cppcheck-suppressions --inline-suppr \
    --error-exitcode=1 --quiet \
    --template='{file}:{line}: {severity}: {message} [{id}]' src/; then
  status=1
fi
echo "-- cppcheck: $([ "$status" -eq 0 ] && echo clean || echo findings)"

echo "== clang-tidy ($("$tidy" --version | sed -n 's/.*LLVM version //p'))"
if ! cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DBUILD_TESTING=OFF >"$work" 2>&1; then
  cat "$work" >&2
  exit 1
fi
# One file per process, two at a time; xargs fails when any of them does.
if ! printf '%s\n' src/*.cpp src/*/*.cpp |
    xargs -P 2 -n 1 "$tidy" -p "$build" --quiet \
      2> >(grep -v 'warnings\? generated\.$' >&2); then
  tidy_status=1
  status=1
else
  tidy_status=0
fi
echo "-- clang-tidy: $([ "$tidy_status" -eq 0 ] && echo clean || echo findings)"

echo "== analysis done in $((SECONDS - started)) s"
exit "$status"

#!/usr/bin/env bash
# The release archives: each is built, unpacks on a clean directory, and its
# example package works there with the archive's own launcher and
# launcher-check, for a user with an empty home directory.
# Usage: archives.sh BUILD_DIR VERSION ARCH...
set -euo pipefail
build=$1 version=$2
shift 2
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }

for arch in "$@"; do
  archive="$work/out/launcher-$version-linux-$arch.tar.gz"
  [ -f "$archive" ] || { echo "FAIL: $archive was not built"; exit 1; }
  mkdir "$work/$arch" "$work/$arch-home"
  tar -xzf "$archive" -C "$work/$arch"
  top="$work/$arch/launcher-$version-linux-$arch"
  for file in launcher launcher-check AUTHORS-GUIDE.md README.md launcher.1 \
              launcher-check.1 example/setup example/setup.ini; do
    [ -e "$top/$file" ] || { echo "FAIL $arch: $file is not in the archive"; exit 1; }
  done
  # Every relative link of the README leads somewhere in the archive.
  for link in $(grep -o '](\([^)#:]*\))' "$top/README.md" | sed 's/^](//; s/)$//'); do
    [ -e "$top/$link" ] || { echo "FAIL $arch: README.md links to $link, not in the archive"; exit 1; }
  done
  grep -aq "launcher version $version" "$top/launcher" ||
    { echo "FAIL $arch: no version string in launcher"; exit 1; }
  [ "$("$top/launcher-check" --version)" = "launcher-check $version" ] ||
    { echo "FAIL $arch: launcher-check --version"; exit 1; }

  run() { env -i PATH=/usr/bin:/bin HOME="$work/$arch-home" "$@"; }
  run "$top/launcher-check" "$top/example/setup" >"$work/check1" ||
    { cat "$work/check1"; echo "FAIL $arch: launcher-check before the first run"; exit 1; }
  grep -q "The installer would run" "$work/check1" ||
    { echo "FAIL $arch: the dry run does not install"; exit 1; }
  (cd "$work" && run "$top/example/setup" -managerArgs hello) >"$work/run" 2>&1 ||
    { cat "$work/run"; echo "FAIL $arch: the example package did not run"; exit 1; }
  grep -q '^  \[hello\]$' "$work/run" ||
    { cat "$work/run"; echo "FAIL $arch: the demo agent did not start"; exit 1; }
  run "$top/launcher-check" "$top/example/setup" >"$work/check2"
  grep -q "The agent would start (replacing the launcher)" "$work/check2" ||
    { cat "$work/check2"; echo "FAIL $arch: the dry run after installing"; exit 1; }
  echo "ok $arch: $(basename "$archive")"
done

#!/usr/bin/env bash
# Checks that each binary has the hardening Debian gives its packages, as
# hardening-check (devscripts) reads it: a position-independent executable,
# read-only relocations bound at start, the stack protector and fortified
# calls. Control-flow marks alone are not required: Debian 12's C start files
# (Scrt1.o, crti.o and crtn.o of libc6-dev 2.36, for amd64 and i386) carry no
# IBT/SHSTK property, so the linker can mark no program built with them.
set -uo pipefail
required=(
  'Position Independent Executable: yes'
  'Stack protected: yes'
  # "yes" alone when every fortifiable call is checked; "unknown" (no such
  # call at all) is not enough.
  'Fortify Source functions: yes( \(some protected functions found\))?'
  'Read-only relocations: yes'
  'Immediate binding: yes'
)
status=0
for binary in "$@"; do
  if ! report=$(hardening-check --nocfprotection "$binary" 2>&1); then
    printf '%s\n' "$report" >&2
    status=1
    continue
  fi
  for line in "${required[@]}"; do
    if ! grep -qxE " $line" <<<"$report"; then
      echo "$binary: expected '$line', got:" >&2
      printf '%s\n' "$report" >&2
      status=1
    fi
  done
done
exit "$status"

#!/usr/bin/env bash
# Checks what a launcher binary asks of the dynamic loader: no GTK, GLib or
# C++ runtime among the needed libraries (they cost every launch), and no
# search path that the working directory could supply (an empty or relative
# entry would let whoever controls that directory inject code).
set -euo pipefail
status=0
for binary in "$@"; do
  dynamic=$(readelf -d "$binary")
  needed=$(grep -F '(NEEDED)' <<<"$dynamic" | grep -o '\[.*\]' || true)
  if grep -E 'libgtk|libgdk|libglib|libgobject|libstdc\+\+|libgcc_s' <<<"$needed"; then
    echo "$binary: needs a library it must not link" >&2
    status=1
  fi
  paths=$(grep -E '\((RPATH|RUNPATH)\)' <<<"$dynamic" | sed 's/.*\[\(.*\)\]/\1/' || true)
  IFS=':' read -r -a entries <<<"$paths:"
  for entry in "${entries[@]}"; do
    if [[ "$entry" != /* && "$entry" != '$ORIGIN'* ]]; then
      echo "$binary: search path entry '${entry}' depends on the working directory (in '$paths')" >&2
      status=1
    fi
  done
  if [[ "$paths" != '$ORIGIN/eclipse' ]]; then
    echo "$binary: search path is '$paths', expected \$ORIGIN/eclipse" >&2
    status=1
  fi
done
exit "$status"

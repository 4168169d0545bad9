#!/bin/sh
# with-xvfb.sh COMMAND [ARG...]
# Runs COMMAND with DISPLAY set to a private virtual X server, and no
# WAYLAND_DISPLAY. The server places itself on a free display number
# (-displayfd), so that parallel runs never collide. Exits with COMMAND's status; fails when no server can start.
set -u
command -v Xvfb >/dev/null 2>&1 || { echo "with-xvfb: Xvfb not found (Debian package xvfb)" >&2; exit 1; }
[ $# -gt 0 ] || { echo "usage: with-xvfb.sh COMMAND [ARG...]" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/with-xvfb.XXXXXX") || exit 1
server=
stop() {
  [ -n "$server" ] && { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
  rm -rf "$work"
}
trap 'stop; exit 129' HUP
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM

# -noreset: an X server resets when its last client leaves and refuses
# connections while it does. The launcher asks whether the display opens
# before it loads a toolkit, which then connects again at once; a desktop
# always has other clients, this private server has none.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/server.log" &
server=$!
# The server writes the number once it accepts connections.
tries=0
until grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ] || ! kill -0 "$server" 2>/dev/null; then
    echo "with-xvfb: Xvfb did not start:" >&2
    cat "$work/server.log" >&2
    stop
    exit 1
  fi
  sleep 0.1
done

# An X session only: GTK 3 would prefer a Wayland display that the
# environment happens to name.
env -u WAYLAND_DISPLAY DISPLAY=:$(cat "$work/display") "$@"
status=$?
stop
exit $status

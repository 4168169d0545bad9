#!/bin/sh
# with-weston.sh COMMAND [ARG...]
# Runs COMMAND in a Wayland-only session: a private headless weston with its
# own runtime directory and socket, WAYLAND_DISPLAY set and DISPLAY unset.
# Exits with COMMAND's status; fails when no compositor can start.
set -u
command -v weston >/dev/null 2>&1 || { echo "with-weston: weston not found (Debian package weston)" >&2; exit 1; }
[ $# -gt 0 ] || { echo "usage: with-weston.sh COMMAND [ARG...]" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/with-weston.XXXXXX") || exit 1
chmod 700 "$work"
server=
stop() {
  [ -n "$server" ] && { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
  rm -rf "$work"
}
trap 'stop; exit 129' HUP
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM

# Clients that connect early wait in the socket's queue until the compositor,
# with its shell, runs its event loop.
XDG_RUNTIME_DIR="$work" weston --backend=headless-backend.so --no-config \
  --socket=wayland-test --idle-time=0 >"$work/server.log" 2>&1 &
server=$!
tries=0
until [ -S "$work/wayland-test" ]; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ] || ! kill -0 "$server" 2>/dev/null; then
    echo "with-weston: weston did not start:" >&2
    cat "$work/server.log" >&2
    stop
    exit 1
  fi
  sleep 0.1
done

env -u DISPLAY XDG_RUNTIME_DIR="$work" WAYLAND_DISPLAY=wayland-test "$@"
status=$?
stop
exit $status

#!/bin/sh
# screenshot.sh LAUNCHER PROBE_MODULE OUTPUT.png [gtk3]
# Takes a picture of the launcher's error dialog for an installer that fails
# with status 3, in English, on a private virtual X server. The picture is of
# the dialog window alone (no window manager runs, so it has no title bar).
# With "gtk3", GTK 2 is made unloadable, so that GTK 3 shows the dialog; the
# probe module must then be the GTK 3 build.
#   tests/dialog/screenshot.sh build/launcher \
#     build/tests/libdialog_probe64_gtk2.so docs/dialog.png
#   tests/dialog/screenshot.sh build/launcher \
#     build/tests/libdialog_probe64_gtk3.so docs/dialog-gtk3.png gtk3
set -eu
[ $# -eq 3 ] || { [ $# -eq 4 ] && [ "$4" = gtk3 ]; } ||
  { echo "usage: screenshot.sh LAUNCHER PROBE_MODULE OUTPUT.png [gtk3]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
probe=$(realpath "$2")
output=$(realpath "$3")
work=$(mktemp -d "${TMPDIR:-/tmp}/dialog-shot.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/package" "$work/home"
cp "$1" "$work/package/setup"
printf '#!/bin/sh\nexit 3\n' >"$work/package/inst.sh"
chmod +x "$work/package/inst.sh"
libraries=
if [ $# -eq 4 ]; then
  mkdir "$work/unloadable"
  echo "not a library" >"$work/unloadable/libgtk-x11-2.0.so.0"
  libraries="$work/unloadable"
fi
printf '[INSTALLER]\nLOCATION=inst.sh\n[MANAGER]\nVERSION=1.0.0\nLOCATION_KEY=agent.key\nLAUNCHER=agent\n' \
  >"$work/package/setup.ini"
rm -f "$output"
status=0
(cd "$work/home" && env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=C \
  HOME="$work/home" GTK_MODULES="$probe" ${libraries:+"LD_LIBRARY_PATH=$libraries"} NO_AT_BRIDGE=1 \
  DIALOG_PROBE_REPORT="$work/report.txt" DIALOG_PROBE_SHOT="$output" \
  "$here/with-xvfb.sh" "$work/package/setup") || status=$?
[ "$status" -eq 3 ] || { echo "screenshot: launcher ended with $status, not 3" >&2; exit 1; }
[ -s "$output" ] || { echo "screenshot: no picture was taken" >&2; exit 1; }
cat "$work/report.txt"

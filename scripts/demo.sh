#!/bin/sh
# Installs what the build needs, builds the launcher and runs it on the demo
# package in examples/, in a scratch directory with a scratch home directory:
# a first run that installs the agent, a second run that starts it at once,
# the diagnostic log of the first run, and the message a user gets when the
# package is broken. Safe to run again: every run starts from a fresh scratch
# directory, which is removed at the end (DEMO_KEEP=1 keeps it).
#
#   ./scripts/demo.sh
#
# Runs as any user: installing missing packages asks for sudo (see
# install-deps.sh). BUILD_DIR chooses the build directory (default: build,
# shared with scripts/test.sh).
set -eu

cd "$(dirname "$0")/.."
repo=$(pwd)
build=${BUILD_DIR:-build}

bold='' plain=''
if [ -t 1 ]; then bold=$(printf '\033[1m') plain=$(printf '\033[0m'); fi
say() {
  printf '\n%s== %s%s\n' "$bold" "$*" "$plain"
}

./scripts/install-deps.sh

scratch=$(mktemp -d "${TMPDIR:-/tmp}/launcher-demo.XXXXXX")
if [ "${DEMO_KEEP:-0}" = 1 ]; then
  trap 'echo; echo "Scratch directory kept: $scratch"' EXIT
else
  trap 'rm -rf "$scratch"' EXIT
  trap 'exit 130' INT TERM
fi

say "Building the launcher in $build/"
if ! { cmake -S . -B "$build" -DLAUNCHER_M32=ON &&
       cmake --build "$build" -j2 --target launcher; } > "$scratch/build.log" 2>&1; then
  cat "$scratch/build.log"
  echo "demo: the build failed" >&2
  exit 1
fi
echo "built $build/launcher"

# The package as an author ships it: the launcher under the package's name,
# its INI file of the same name, the installer and the agent it installs.
package=$scratch/package
mkdir -p "$package" "$scratch/home"
cp -R "$repo/examples/." "$package/"
cp "$build/launcher" "$package/setup"

# The agent is installed per user, into this home directory. A desktop
# session keeps its display authority even though HOME changes.
if [ -z "${XAUTHORITY:-}" ] && [ -n "${HOME:-}" ] && [ -f "$HOME/.Xauthority" ]; then
  XAUTHORITY=$HOME/.Xauthority
  export XAUTHORITY
fi
HOME=$scratch/home
export HOME

# Runs the launcher from the scratch directory and shows its exit status.
run() {
  printf '$ %s\n' "$*"
  status=0
  (cd "$scratch" && "$@") || status=$?
  printf '(exit status %s)\n' "$status"
}

say "Package: $package"
(cd "$package" && ls -1 setup setup.ini installer/install.sh agent/demo-agent)
echo "Home directory: $HOME (empty: no agent is installed)"

say "First run: no agent is installed, so the launcher runs the installer," \
    "probes again and starts the agent it installed (logged to first-run.log)"
run ./package/setup -log first-run.log

say "Second run: the agent is installed and starts at once; -nl and" \
    "-managerArgs are handed to it"
run ./package/setup -nl fr -managerArgs --greeting=hello

say "The first run's decisions, from its log (the input sections before" \
    "them are left out here)"
sed -n '/^Get Installed Agent Info$/,$p' "$scratch/first-run.log"

say "A broken package: no installer and no agent. The user gets a message" \
    "(a dialog on a desktop, close it to go on; \"Title: text\" on standard" \
    "error without a display)"
broken=$scratch/broken
mkdir -p "$broken" "$scratch/home2"
cp "$package/setup" "$package/setup.ini" "$broken/"
HOME=$scratch/home2
run ./broken/setup

say "Done. Read README.md for the INI keys, the options and the exit statuses."

#!/usr/bin/env bash
# Installs everything the build and every test need on Debian 12. Safe to run
# again: when every package is there it changes nothing and needs no
# privileges; otherwise it uses sudo unless it runs as root.
#
# Quiet: one line says what is installed and how long it took. apt's own
# output goes to a log file, which is shown only when apt fails.
set -euo pipefail

PACKAGES=(
  build-essential cmake g++ libgtest-dev googletest
  gcc-multilib g++-multilib
  libgtk2.0-dev pkg-config xvfb xauth imagemagick x11-apps locales
  valgrind hyperfine clang libclang-rt-14-dev cppcheck clang-tidy
  libgtk-3-0 libgtk-3-dev weston python3-jsonschema devscripts mandoc
  default-jre-headless
  libseccomp-dev acl busybox-static
  libgtk2.0-0:i386 libgtk2.0-dev:i386 libgtk-3-0:i386 libgtk-3-dev:i386
  libseccomp-dev:i386
)

# A bare name means the machine's own architecture (or an "all" package);
# dpkg-query alone would also accept the i386 copy of a package that exists
# for both, and skip the 64-bit one the build needs.
native="$(dpkg --print-architecture)"
installed="$(dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Abbrev}\n' 2>/dev/null |
             awk '$2 ~ /^ii/ { print $1 }')"
missing=()
for p in "${PACKAGES[@]}"; do
  case "$p" in
    *:*) wanted=("$p") ;;
    *) wanted=("$p:$native" "$p:all") ;;
  esac
  found=0
  for w in "${wanted[@]}"; do
    if grep -qxF -- "$w" <<<"$installed"; then found=1; fi
  done
  if [ "$found" -eq 0 ]; then missing+=("$p"); fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: ${#missing[@]} packages are missing (${missing[*]});" \
         "installing them needs root: run this as root, or install sudo" >&2
    exit 1
  fi
  SUDO=(sudo)
  # Ask for the password now, before the progress line, not in its middle.
  sudo -v
fi

duration() {
  if [ "$1" -ge 60 ]; then echo "$(($1 / 60)) min $(($1 % 60)) s"; else echo "$1 s"; fi
}
count="${#missing[@]} packages and what they need"
if [ "${#missing[@]}" -eq 1 ]; then count="1 package and what it needs"; fi

log="$(mktemp "${TMPDIR:-/tmp}/launcher-install-deps.XXXXXX.log")"
started=$SECONDS
printf 'install-deps: installing %s (%s) ...' \
  "$count" "${missing[*]}"

# sudo resets the environment, so the variable goes on apt's command line.
apt=("${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q)
run_apt() {
  # The i386 GTK 2 libraries are what the target desktop's dialogs run on;
  # the architecture must be known before the package lists are fetched.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${SUDO[@]}" dpkg --add-architecture i386 || return
  fi
  "${apt[@]}" update || return
  "${apt[@]}" install --no-install-recommends "${missing[@]}"
}
status=0
run_apt >"$log" 2>&1 </dev/null || status=$?

elapsed=$((SECONDS - started))
if [ "$status" -ne 0 ]; then
  echo " FAILED after $(duration "$elapsed")"
  echo "install-deps: apt failed (exit status $status); its output, kept in $log:" >&2
  cat "$log" >&2
  exit 1
fi
echo " done in $(duration "$elapsed") (apt's output: $log)"

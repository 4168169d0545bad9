#!/usr/bin/env bash
# Installs everything the build and every test need on Debian 12. Safe to run
# again: apt-get skips what is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake g++ libgtest-dev googletest
  gcc-multilib g++-multilib
  libgtk2.0-dev pkg-config xvfb xauth imagemagick x11-apps locales
  valgrind hyperfine clang libclang-rt-14-dev cppcheck clang-tidy
  libgtk-3-0 libgtk-3-dev weston python3-jsonschema
  libgtk2.0-0:i386 libgtk2.0-dev:i386 libgtk-3-0:i386 libgtk-3-dev:i386
)

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The i386 GTK 2 libraries are what the target desktop's dialogs run on.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${SUDO[@]}" dpkg --add-architecture i386
fi
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

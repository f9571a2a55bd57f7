#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that building kelvo needs (with --test,
# also those its tests need), only those that are missing. Uses sudo when not
# run as root.
set -euo pipefail

packages=(
  g++ cmake make
  libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core libcli11-dev libpng-dev
  libhwy-dev
)
if [ "${1:-}" = "--test" ]; then
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev
    # a real window under a virtual display, driven and photographed
    xvfb xauth xdotool jwm wmctrl imagemagick
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "kelvo setup: apt-get not found; install these packages by hand: ${missing[*]}" >&2
    exit 1
  fi
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "kelvo setup: need root or sudo to install: ${missing[*]}" >&2
      exit 1
    fi
    sudo="sudo"
  fi
  echo "kelvo setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

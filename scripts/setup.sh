#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that building kelvo needs (with --test,
# also those its tests need; with --windows, the MinGW-w64 cross compilers and
# Wine that scripts/windows.sh uses), only those that are missing. Uses sudo
# when not run as root.
set -euo pipefail

packages=(
  g++ cmake make
  libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core libcli11-dev libstb-dev
  libhwy-dev
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  # a real window under a virtual display, driven and photographed
  xvfb xauth xdotool jwm openbox wmctrl imagemagick
)
# A clang build (CXX=clang++ ./test.sh) needs clang's OpenMP runtime, and
# clang itself.
case "$(basename "${CXX:-}")" in
  clang++*|clang*) packages+=(clang libomp-dev) ;;
esac
windows=""
for option in "$@"; do
  case "$option" in
    --test) packages+=("${test_packages[@]}") ;;
    --windows)
      windows=1
      packages+=(
        "${test_packages[@]}"
        g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
        wine wine64 wine32:i386
      )
      ;;
    *) echo "kelvo setup: unknown option $option (use --test, --windows)" >&2; exit 2 ;;
  esac
done

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
  # 32-bit Wine comes from the i386 architecture.
  if [ -n "$windows" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # Through env: sudo drops DEBIAN_FRONTEND from the environment.
  apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get)
  # A mirror in mid-sync serves an index of the wrong size for a while
  # ("File has unexpected size"); apt-get update then fails for that index
  # alone. Try a few times, then go on with the indexes that did arrive.
  for attempt in 1 2 3 4; do
    if "${apt[@]}" update -qq; then
      break
    fi
    if [ "$attempt" -eq 4 ]; then
      echo "kelvo setup: apt-get update failed $attempt times; going on with the package lists it has" >&2
    else
      echo "kelvo setup: apt-get update failed (a mirror in mid-sync?); trying again in $((attempt * 10)) s" >&2
      sleep $((attempt * 10))
    fi
  done
  if ! "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"; then
    # 32-bit Wine needs i386 libraries of exactly the amd64 versions, which
    # come from the security index: without that index it cannot be installed.
    # Everything else still can, and the Windows script then builds the 32-bit
    # program without running it, saying why.
    rest=()
    for p in "${missing[@]}"; do
      [ "$p" = wine32:i386 ] || rest+=("$p")
    done
    if [ -z "$windows" ] || [ "${#rest[@]}" -eq "${#missing[@]}" ]; then
      exit 1
    fi
    echo "kelvo setup: wine32:i386 cannot be installed now; installing the rest without it" >&2
    if [ "${#rest[@]}" -gt 0 ]; then
      "${apt[@]}" install -y -qq --no-install-recommends "${rest[@]}"
    fi
  fi
fi

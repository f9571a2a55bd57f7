#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that building kelvo needs (with --test,
# also those its tests need; with --windows, the MinGW-w64 cross compilers and
# Wine that scripts/windows.sh uses, and Highway's Debian sources in
# build-deps/ for the 64-bit Windows build), only those that are missing. Uses
# sudo when not run as root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/apt-update.sh"

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
        dpkg-dev  # apt-get source unpacks with dpkg-source
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

# Debian ships Highway built for Linux only: the 64-bit Windows build compiles
# Highway's source package, fetched from Debian's archive into build-deps/.
# That needs a deb-src entry for the release's main component.
deps=$root/build-deps
fetch_highway=""
source_index=1
source_entry=""
if [ -n "$windows" ] && ! compgen -G "$deps/highway-*/hwy/highway.h" >/dev/null; then
  fetch_highway=1
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if ! apt-cache showsrc highway 2>/dev/null | grep -q '^Package: highway$'; then
    source_index=""
    if ! apt-get indextargets --format '$(CREATED_BY) $(RELEASE) $(COMPONENT)' 2>/dev/null |
        grep -qx "Sources $codename main"; then
      source_entry=1
    fi
  fi
fi

if [ "${#missing[@]}" -gt 0 ] || [ -z "$source_index" ]; then
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "kelvo setup: apt-get not found; install these packages by hand: ${missing[*]}" >&2
    exit 1
  fi
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "kelvo setup: need root or sudo to install: ${missing[*]:-a deb-src entry for the Highway sources}" >&2
      exit 1
    fi
    sudo="sudo"
  fi
  if [ -n "$source_entry" ]; then
    # The same mirror as the machine's Debian entries, in the form they use.
    mirror=$(grep -hoE '^(URIs:|deb)[[:space:]]+[^[:space:]]+/debian/?([[:space:]]|$)' \
               /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
             grep -oE '[a-z+]+://[^[:space:]]+' | head -1 || true)
    mirror=${mirror:-http://deb.debian.org/debian}
    keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    if [ -z "$codename" ]; then
      echo "kelvo setup: no release codename in /etc/os-release; add a deb-src entry for Highway by hand" >&2
      exit 1
    elif compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
      entry=/etc/apt/sources.list.d/kelvo-deb-src.sources
      printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n' "$mirror" "$codename" |
        $sudo tee "$entry" >/dev/null
      if [ -f "$keyring" ]; then echo "Signed-By: $keyring" | $sudo tee -a "$entry" >/dev/null; fi
    else
      entry=/etc/apt/sources.list.d/kelvo-deb-src.list
      signed=""
      if [ -f "$keyring" ]; then signed="[signed-by=$keyring] "; fi
      echo "deb-src $signed$mirror $codename main" | $sudo tee "$entry" >/dev/null
    fi
    echo "kelvo setup: added $entry (Debian's source packages, for Highway's sources)"
  fi
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "kelvo setup: installing ${missing[*]}"
  fi
  # 32-bit Wine comes from the i386 architecture.
  if [ -n "$windows" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # Through env: sudo drops DEBIAN_FRONTEND from the environment.
  apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get)
  apt_update "${apt[@]}"
  if [ "${#missing[@]}" -eq 0 ]; then
    :
  elif ! "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"; then
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

if [ -n "$fetch_highway" ]; then
  # Into a fresh folder, moved into place whole: an interrupted fetch leaves
  # nothing half unpacked for the build to find.
  rm -rf "$deps/fetching"
  mkdir -p "$deps/fetching"
  if ! (cd "$deps/fetching" && apt-get source -qq highway); then
    echo "kelvo setup: apt-get source highway failed; the 64-bit Windows build needs Highway's sources in $deps" >&2
    exit 1
  fi
  rm -rf "$deps"/highway[-_]*
  mv "$deps"/fetching/* "$deps"/
  rmdir "$deps/fetching"
  echo "kelvo setup: Highway's sources in $(echo "$deps"/highway-*/)"
fi

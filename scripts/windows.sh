#!/usr/bin/env bash
# Sets up, cross-builds kelvo.exe for 64-bit (x86_64) and 32-bit (i686)
# Windows with MinGW-w64, and runs its tests under Wine: the unit tests, a
# headless end-to-end run, a real window under Xvfb, and a headless frame
# compared with the Linux build's.
#   scripts/windows.sh        builds build-win-x86_64/ and build-win-i686/
# kelvo.exe ends up in build-win-<arch>/kelvo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$(date +%s)

scripts/setup.sh --windows

# A prefix of our own, made fresh whenever the installed Wine changes: a
# prefix made before 32-bit Wine was installed stays unable to run 32-bit
# programs.
export WINEPREFIX=${KELVO_WINEPREFIX:-$root/build-wine-prefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stamp=$(dpkg-query -W -f='${Package}:${Architecture}=${Version} ' wine wine64 wine32:i386 2>/dev/null || true)
if [ ! -f "$WINEPREFIX/kelvo-wine-stamp" ] || [ "$(cat "$WINEPREFIX/kelvo-wine-stamp")" != "$stamp" ]; then
  rm -rf "$WINEPREFIX"
  echo "windows: making the Wine prefix $WINEPREFIX"
  WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  # A crashing test must fail, not wait for someone to close a dialog.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  /usr/lib/wine/wineserver64 -w
  echo "$stamp" >"$WINEPREFIX/kelvo-wine-stamp"
fi
# One server for the whole run, so that no test pays Wine's start-up. Its
# background services start here, away from the tests' output: CTest waits
# for every process that holds a test's output to let go of it.
/usr/lib/wine/wineserver64 -p
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT
/usr/lib/wine/wine64 wineboot >/dev/null 2>&1 </dev/null

# Whether this machine runs 32-bit Linux programs at all (Wine's 32-bit
# loader is one): where it cannot, a 32-bit Windows program under Wine exits
# without a word, so the i686 build is then built but not run.
runs32=""
why32="this machine cannot start 32-bit Linux programs, so 32-bit Wine cannot run"
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  why32="32-bit Wine (wine32:i386) could not be installed (see the set-up messages above)"
elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
  runs32=1
fi

arches=(x86_64 i686)
for arch in "${arches[@]}"; do
  dir=build-win-$arch
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_BUILD_TESTS=ON
  cmake --build "$dir" -j"$(nproc)"
done

failures=0
# The 64-bit program's lanes use 32- and 64-byte vectors, but Windows keeps the
# stack only 16-byte aligned: an aligned vector move to or from a stack slot
# would fault now and then. Debian's MinGW GCC spills with unaligned moves
# (its fix for Debian bug 939559), and the build has the assembler make every
# aligned vector move unaligned: none should be left.
aligned=$(x86_64-w64-mingw32-objdump -d --no-show-raw-insn build-win-x86_64/kelvo/kelvo.exe |
  grep -E 'vmov(apd|aps|dqa(32|64)?)[[:space:]].*(%[yz]mm.*\(%r[sb]p\)|\(%r[sb]p\).*%[yz]mm)' || true)
if [ -n "$aligned" ]; then
  echo "FAIL: x86_64: aligned vector moves to or from the stack in kelvo.exe:"
  echo "$aligned" | head -5
  failures=$((failures + 1))
fi

for arch in "${arches[@]}"; do
  if [ "$arch" = i686 ] && [ -z "$runs32" ]; then
    echo "windows: i686: NOT RUN: $why32 (built build-win-i686/kelvo/kelvo.exe only;" \
      "the x86_64 checks decide)"
    continue
  fi
  echo "windows: $arch: tests under Wine"
  # The unit tests open a window too, so they run under a virtual display.
  if ! xvfb-run -a -s "-screen 0 1024x768x24" \
      ctest --test-dir "build-win-$arch" --output-on-failure; then
    failures=$((failures + 1))
  fi
done

# A headless frame of kelvo.exe against the Linux program's, both without the
# overlay (the fonts differ): within one level on at most 2 % of the pixels,
# as the C runtimes' pow may round differently.
linux=build/kelvo/kelvo
if [ ! -x "$linux" ]; then
  scripts/setup.sh --test
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j"$(nproc)" --target kelvo
fi
work=$(mktemp -d)
compare_frames() {  # name a.png b.png -> prints "differing max", both integers
  local differing max
  differing=$(compare -metric AE "$2" "$3" null: 2>&1 || true)
  max=$(convert "$2" "$3" -compose difference -composite -separate -evaluate-sequence max \
    -format '%[fx:round(maxima*255)]' info:)
  echo "$differing $max"
}
for size in 240x200 320x240; do
  "$linux" --headless --size "$size" --no-overlay --output "$work/linux-$size.png" >/dev/null
  for arch in "${arches[@]}"; do
    [ "$arch" = i686 ] && [ -z "$runs32" ] && continue
    if ! cmake/wine-run.sh "$arch" "build-win-$arch/kelvo/kelvo.exe" --headless --size "$size" \
        --no-overlay --output "$work/$arch-$size.png" >"$work/out" 2>&1 || [ ! -s "$work/$arch-$size.png" ]; then
      echo "FAIL: $arch headless $size: $(cat "$work/out")"
      failures=$((failures + 1))
      continue
    fi
    read -r differing max <<<"$(compare_frames "$arch" "$work/linux-$size.png" "$work/$arch-$size.png")"
    pixels=$(( ${size%x*} * ${size#*x} ))
    echo "windows: $arch $size frame against Linux: $differing of $pixels pixels differ, by at most $max level(s)"
    if [ "$arch" = x86_64 ] && { [ "$max" -gt 1 ] || [ $((differing * 50)) -gt "$pixels" ]; }; then
      echo "FAIL: the x86_64 frame differs from the Linux frame by more than allowed"
      failures=$((failures + 1))
    fi
  done
  if [ -n "$runs32" ] && [ -s "$work/i686-$size.png" ] && [ -s "$work/x86_64-$size.png" ]; then
    read -r differing max <<<"$(compare_frames i686 "$work/x86_64-$size.png" "$work/i686-$size.png")"
    echo "windows: i686 (x87 at single precision) against x86_64 at $size: $differing pixels differ, by at most $max level(s)"
  fi
done

# The 32-bit program computes at single precision, so its picture may differ
# from the others, but it still shows the flake and the overlay.
if [ -n "$runs32" ]; then
  cmake/wine-run.sh i686 build-win-i686/kelvo/kelvo.exe --headless --output "$work/i686.png" \
    | tr -d '\r' >"$work/out" 2>&1 || true
  green=$(convert "$work/i686.png" -fx '(g>0.45 && r<0.3 && b<0.3) ? 1 : 0' -format '%[fx:mean]' info: 2>/dev/null || echo 0)
  white=$(convert "$work/i686.png" -crop 80x39+0+0 +repage -fx '(r>0.99 && g>0.99 && b>0.99) ? 1 : 0' \
    -format '%[fx:mean]' info: 2>/dev/null || echo 0)
  echo "windows: i686 headless: $(head -1 "$work/out"), green $green, white corner $white"
  if ! grep -Eq '^[0-9]+n/[0-9]+e/[0-9.]+d$' "$work/out" ||
      ! awk -v g="$green" -v w="$white" 'BEGIN { exit !(g > 0.02 && w > 0.3) }'; then
    echo "FAIL: the i686 frame lacks the flake, the overlay or the statistics line"
    failures=$((failures + 1))
  fi
fi
# The 64-bit program walks rays in lanes, on the instruction set chosen at run
# time, which the benchmark names.
bench=$(cmake/wine-run.sh x86_64 build-win-x86_64/kelvo/kelvo.exe --benchmark --size 320x240 \
          --frames 5 --threads 2 2>&1 | tr -d '\r' || true)
echo "$bench" | grep -E 'fps|^path' | sed 's/^/windows: x86_64 benchmark: /' || true
if ! echo "$bench" | grep -Eq '^path: fast, ' || echo "$bench" | grep -qx 'path: fast, scalar'; then
  echo "FAIL: x86_64: kelvo.exe does not trace in SIMD lanes: $bench"
  failures=$((failures + 1))
fi
rm -rf "$work"

echo "windows: done in $(( ($(date +%s) - start) / 60 )) min $(( ($(date +%s) - start) % 60 )) s, $failures failure(s)"
[ "$failures" -eq 0 ]

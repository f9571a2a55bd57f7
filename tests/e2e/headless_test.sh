#!/usr/bin/env bash
# End to end, without a display: kelvo --headless renders, prints its overlay,
# writes identical PNGs on every run, and refuses bad input with exit code 2.
set -uo pipefail
kelvo=${1:?usage: headless_test.sh path/to/kelvo}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# PNG width and height from the IHDR chunk (bytes 16-23, big-endian).
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}'; }

"$kelvo" --headless --size 320x240 --frames 3 --output "$work/a.png" >"$work/out" 2>"$work/err"
code=$?
[ "$code" -eq 0 ] || fail "headless run exited $code: $(cat "$work/err")"
[ "$(sed -n 1p "$work/out")" = "833n/406e/7.34d" ] || fail "statistics line: $(sed -n 1p "$work/out")"
[ "$(sed -n 2p "$work/out")" = "320*240" ] || fail "size line: $(sed -n 2p "$work/out")"
sed -n 3p "$work/out" | grep -Eq '^[0-9]+\.[0-9]{3} fps$' || fail "rate line: $(sed -n 3p "$work/out")"
[ -f "$work/a.png" ] && [ "$(png_size "$work/a.png")" = "320x240" ] || fail "a 320x240 PNG"

# The same inputs give the same picture, byte for byte (the rate line is a
# measurement, so the overlay is left out here).
"$kelvo" --headless --size 320x240 --frames 3 --no-overlay --output "$work/b.png" >/dev/null 2>&1 || fail "run b"
"$kelvo" --headless --size 320x240 --frames 3 --no-overlay --output "$work/c.png" >/dev/null 2>&1 || fail "run c"
cmp -s "$work/b.png" "$work/c.png" || fail "two runs give different bytes"
cmp -s "$work/a.png" "$work/b.png" && fail "the overlay is missing from a.png"
# Any number of threads draws the same picture.
"$kelvo" --headless --size 320x240 --frames 3 --no-overlay --threads 1 --output "$work/t1.png" >/dev/null 2>&1 || fail "run t1"
"$kelvo" --headless --size 320x240 --frames 3 --no-overlay --threads 3 --output "$work/t3.png" >/dev/null 2>&1 || fail "run t3"
cmp -s "$work/b.png" "$work/t1.png" || fail "1 thread draws other bytes"
cmp -s "$work/b.png" "$work/t3.png" || fail "3 threads draw other bytes"
rm -f "$work/t1.png" "$work/t3.png"
# Without --view the picture is the traced one, unchanged: the README's
# picture, pixel for pixel. (Windows draws the overlay's text with its own
# font, so there the picture is not the README's.)
docs=$(dirname "$0")/../../docs
case "$kelvo" in *wine*) docs=/nonexistent ;; esac
if command -v compare >/dev/null 2>&1 && [ -f "$docs/kelvo.png" ]; then
  "$kelvo" --headless --size 480x360 --output "$work/t1.png" >/dev/null 2>&1 || fail "run docs"
  [ "$(compare -metric AE "$work/t1.png" "$docs/kelvo.png" null: 2>&1)" = "0" ] ||
    fail "the default picture differs from docs/kelvo.png"
  rm -f "$work/t1.png"
fi
# The views of the tree: their overlay line, the same bytes on every run and
# thread count, and pictures of their own.
for view in leaves cells; do
  "$kelvo" --headless --size 160x120 --frames 2 --view "$view" --threads 1 --output "$work/t1.png" \
    >"$work/out" 2>"$work/err" || fail "--view $view: $(cat "$work/err")"
  line=$([ "$view" = leaves ] && echo 'leaves 0\.\.[0-9]+\+' || echo 'leaf cells')
  sed -n 3p "$work/out" | grep -Eqx "$line" || fail "--view $view: overlay line 3: $(sed -n 3p "$work/out")"
  "$kelvo" --headless --size 160x120 --frames 2 --view "$view" --threads 3 --output "$work/t3.png" \
    >/dev/null 2>&1 || fail "--view $view, 3 threads"
  cmp -s "$work/t1.png" "$work/t3.png" || fail "--view $view: 3 threads draw other bytes"
  "$kelvo" --headless --size 160x120 --frames 2 --view shaded --output "$work/t3.png" >/dev/null 2>&1 ||
    fail "--view shaded"
  cmp -s "$work/t1.png" "$work/t3.png" && fail "--view $view draws the traced picture"
  rm -f "$work/t1.png" "$work/t3.png"
done
[ -z "$(ls "$work" | grep -v -E '^(a|b|c)\.png$|^out$|^err$')" ] || fail "stray files: $(ls "$work")"

# --camera: the scene's own start given as text draws the same bytes; another
# place draws another picture; negative values need no '='.
"$kelvo" --headless --size 320x240 --frames 3 --no-overlay --camera 0,0,-10,0,0,0 \
  --output "$work/cam.png" >/dev/null 2>"$work/err" || fail "--camera run: $(cat "$work/err")"
cmp -s "$work/b.png" "$work/cam.png" || fail "--camera at the start draws other bytes"
"$kelvo" --headless --size 320x240 --no-overlay --camera -1.5,0.25,-9,0.1,-0.2,0.05 \
  --output "$work/cam.png" >/dev/null 2>"$work/err" || fail "--camera with negatives: $(cat "$work/err")"
cmp -s "$work/b.png" "$work/cam.png" && fail "--camera elsewhere draws the start's picture"
rm -f "$work/cam.png"

# The benchmark's four lines (the figures are measurements, only their form
# and the primary rays are fixed).
"$kelvo" --benchmark --size 64x48 --frames 2 --threads 2 >"$work/out" 2>"$work/err" || fail "benchmark: $(cat "$work/err")"
[ "$(wc -l <"$work/out")" -eq 4 ] || fail "benchmark prints four lines: $(cat "$work/out")"
sed -n 1p "$work/out" | grep -Eq '^tree build: [0-9]+\.[0-9] ms, trial, 37 spheres$' || fail "benchmark line 1: $(sed -n 1p "$work/out")"
sed -n 2p "$work/out" | grep -Eq '^64x48, 2 frames, 2 threads: [0-9]+\.[0-9]{3} s, [0-9]+\.[0-9]{2} fps$' ||
  fail "benchmark line 2: $(sed -n 2p "$work/out")"
sed -n 3p "$work/out" |
  grep -Eq '^rays per frame: 3072 primary, [0-9]+ reflected, [0-9]+ shadow; [0-9]+\.[0-9]{2} Mrays/s$' ||
  fail "benchmark line 3: $(sed -n 3p "$work/out")"
sed -n 4p "$work/out" | grep -Eq '^path: fast, [A-Za-z0-9_]+$' || fail "benchmark line 4: $(sed -n 4p "$work/out")"
# The literal path counts the same rays.
"$kelvo" --benchmark --literal --size 64x48 --frames 2 --threads 2 >"$work/lit" 2>"$work/err" ||
  fail "literal benchmark: $(cat "$work/err")"
[ "$(sed -n 3p "$work/lit" | cut -d';' -f1)" = "$(sed -n 3p "$work/out" | cut -d';' -f1)" ] ||
  fail "literal and fast paths count other rays: $(sed -n 3p "$work/lit") / $(sed -n 3p "$work/out")"
sed -n 4p "$work/lit" | grep -qx 'path: literal' || fail "literal benchmark line 4: $(sed -n 4p "$work/lit")"
rm -f "$work/lit"

# Refined stills: --samples N is the mean of N frames of the resting camera,
# the same bytes on any number of threads, and nearer a many-sample picture
# than a single frame is; the overlay counts the samples.
"$kelvo" --headless --samples 16 --size 160x120 --no-overlay --threads 1 --output "$work/r1.png" \
  >/dev/null 2>"$work/err" || fail "--samples: $(cat "$work/err")"
"$kelvo" --headless --samples 16 --size 160x120 --no-overlay --threads 2 --output "$work/r2.png" \
  >/dev/null 2>&1 || fail "--samples, 2 threads"
cmp -s "$work/r1.png" "$work/r2.png" || fail "--samples: 2 threads draw other bytes"
"$kelvo" --headless --samples 3 --size 160x120 >"$work/out" 2>&1 || fail "--samples with the overlay"
[ "$(sed -n 3p "$work/out")" = "3 samples" ] || fail "--samples overlay line 3: $(sed -n 3p "$work/out")"
if command -v compare >/dev/null 2>&1; then
  "$kelvo" --headless --samples 256 --size 160x120 --no-overlay --output "$work/ref.png" >/dev/null 2>&1 ||
    fail "--samples 256"
  "$kelvo" --headless --size 160x120 --no-overlay --output "$work/one.png" >/dev/null 2>&1 || fail "one frame"
  rms() { compare -metric RMSE "$work/$1" "$work/$2" null: 2>&1 | sed -E 's/.*\((.*)\).*/\1/'; }
  single=$(rms one.png ref.png)
  refined=$(rms r1.png ref.png)
  awk -v a="$refined" -v b="$single" 'BEGIN { exit !(a < b / 2) }' ||
    fail "--samples 16 is $refined from 256 samples, a single frame $single"
  echo "measured: RMS from 256 samples: one frame $single, 16 samples $refined"
  rm -f "$work/ref.png" "$work/one.png"
fi
"$kelvo" --benchmark --size 64x48 --samples 2 --threads 2 >"$work/out" 2>"$work/err" ||
  fail "benchmark --samples: $(cat "$work/err")"
sed -n 2p "$work/out" | grep -q '^64x48, 2 frames, ' || fail "benchmark --samples line 2: $(sed -n 2p "$work/out")"
sed -n 4p "$work/out" | grep -Eq '^path: fast, [A-Za-z0-9_]+, refined$' ||
  fail "benchmark --samples line 4: $(sed -n 4p "$work/out")"
rm -f "$work/r1.png" "$work/r2.png"

expect_usage_error() {
  local what=$1; shift
  "$kelvo" "$@" >"$work/out" 2>"$work/err"
  local code=$?
  [ "$code" -eq 2 ] || fail "$what: exit $code, wanted 2"
  [ -s "$work/err" ] || fail "$what: no message on stderr"
}
expect_usage_error "unknown option" --bogus
expect_usage_error "malformed size" --headless --size 320by240
expect_usage_error "zero size" --headless --size 0x240
expect_usage_error "absurd size" --headless --size 20000x100
expect_usage_error "negative size" --headless --size -5x5
expect_usage_error "zero frames" --headless --frames 0
expect_usage_error "negative frames" --headless --frames -3
expect_usage_error "frames not a number" --headless --frames many
expect_usage_error "frames in exponent form" --headless --frames 1e3
grep -q "not a whole number" "$work/err" || fail "--frames 1e3: message: $(cat "$work/err")"
expect_usage_error "levels beyond the limit" --headless --levels 12
expect_usage_error "glow not a number" --headless --glow nan
expect_usage_error "unknown build" --headless --build fastest
expect_usage_error "a flake beyond memory" --headless --levels 11 --threads 256
grep -q "needs about" "$work/err" || fail "a flake beyond memory: $(cat "$work/err")"
expect_usage_error "empty output path" --headless --output ""
expect_usage_error "output without headless" --output "$work/d.png"
expect_usage_error "unwritable output" --headless --output "$work/missing/d.png"
expect_usage_error "output is a directory" --headless --output "$work"
expect_usage_error "zero threads" --headless --threads 0
expect_usage_error "negative threads" --threads -2
expect_usage_error "threads not a number" --headless --threads all
expect_usage_error "absurd threads" --benchmark --threads 100000
expect_usage_error "benchmark zero frames" --benchmark --frames 0
expect_usage_error "benchmark zero size" --benchmark --size 0x48
expect_usage_error "benchmark malformed size" --benchmark --size 64
expect_usage_error "benchmark and headless" --benchmark --headless
expect_usage_error "benchmark with output" --benchmark --output "$work/d.png"
expect_usage_error "zero samples" --headless --samples 0
expect_usage_error "too many samples" --headless --samples 4097
expect_usage_error "samples and frames" --headless --samples 4 --frames 4
expect_usage_error "samples in a window" --samples 4
expect_usage_error "max-fps headless" --headless --max-fps 30
expect_usage_error "max-fps zero" --max-fps 0
expect_usage_error "max-fps not a number" --max-fps fast
expect_usage_error "literal without benchmark" --headless --literal
expect_usage_error "unknown view" --headless --view normals
grep -q "'normals' is not a view" "$work/err" || fail "--view normals: message: $(cat "$work/err")"
expect_usage_error "view in capitals" --headless --view LEAVES
expect_usage_error "empty view" --headless --view ""
expect_usage_error "view without a value" --headless --view
expect_usage_error "literal benchmark of a view" --benchmark --literal --view cells
expect_usage_error "camera: five numbers" --headless --camera 1,2,3,4,5
grep -q "six numbers" "$work/err" || fail "camera: five numbers: message: $(cat "$work/err")"
expect_usage_error "camera: seven numbers" --headless --camera 1,2,3,4,5,6,7
expect_usage_error "camera: not a number" --headless --camera 1,2,three,4,5,6
grep -q "camera z 'three' is not a number" "$work/err" || fail "camera: not a number: message: $(cat "$work/err")"
expect_usage_error "camera: trailing junk" --headless --camera 1,2,3,4,5,6m
expect_usage_error "camera: NaN" --headless --camera 1,2,3,nan,5,6
grep -q "not a finite number" "$work/err" || fail "camera: NaN: message: $(cat "$work/err")"
expect_usage_error "camera: infinite" --camera 1,2,3,4,inf,6
expect_usage_error "camera: out of range" --headless --camera 1e400,2,3,4,5,6
expect_usage_error "camera: empty" --headless --camera ""
expect_usage_error "camera: empty field" --headless --camera 1,2,,4,5,6
expect_usage_error "camera with benchmark" --benchmark --camera 0,0,-10,0,0,0
expect_usage_error "fullscreen with headless" --headless --fullscreen
expect_usage_error "fullscreen with benchmark" --benchmark --fullscreen
[ ! -e "$work/d.png" ] && [ ! -e "$work/missing" ] || fail "partial output left behind"

# Only a regular file is ever replaced. A link is followed: the file it
# names gets the picture and the link stays. A named pipe is written through
# to its reader and stays a pipe. (Devices are left out: run as root, a
# regression would replace one.) The Windows build under Wine too: Windows
# opens the link through to its file and the pipe as a pipe; there the file
# exists beforehand, as Wine shows a link to nothing as nothing at all.
case "$kelvo" in *wine*) : >"$work/real.png" ;; esac
if ln -s real.png "$work/link.png" 2>/dev/null && mkfifo "$work/pipe.png" 2>/dev/null; then
  "$kelvo" --headless --size 40x30 --output "$work/link.png" >/dev/null 2>"$work/err" ||
    fail "--output to a link: $(cat "$work/err")"
  [ -L "$work/link.png" ] || fail "--output replaced a link by a file"
  [ -f "$work/real.png" ] && [ "$(png_size "$work/real.png")" = "40x30" ] ||
    fail "--output to a link: the file it names was not written"
  cat "$work/pipe.png" >"$work/piped.png" &
  reader=$!
  "$kelvo" --headless --size 40x30 --output "$work/pipe.png" >/dev/null 2>"$work/err" ||
    fail "--output to a pipe: $(cat "$work/err")"
  sleep 0.2
  kill "$reader" 2>/dev/null && fail "--output to a pipe: the reader got no end of file"
  wait "$reader" 2>/dev/null
  [ -p "$work/pipe.png" ] || fail "--output replaced a pipe by a file"
  cmp -s "$work/piped.png" "$work/real.png" || fail "--output to a pipe: the reader got other bytes"
  rm -f "$work/link.png" "$work/pipe.png" "$work/real.png" "$work/piped.png"
fi

"$kelvo" --help >"$work/out" 2>&1 || fail "--help exit code"
for listed in --headless --camera --fullscreen --threads --view Esc F11 F12 F2 drag; do
  grep -q -- "$listed" "$work/out" || fail "--help lists $listed"
done
"$kelvo" --version >"$work/out" 2>&1 || fail "--version exit code"
grep -q "kelvo" "$work/out" || fail "--version names kelvo"

# No display: windowed mode refuses, naming --headless, instead of running
# invisibly.
env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$kelvo" >"$work/out" 2>"$work/err"
code=$?
[ "$code" -eq 1 ] || fail "no display: exit $code, wanted 1"
grep -q -- "--headless" "$work/err" || fail "no display: message names --headless: $(cat "$work/err")"

# The statistics are the result: when they cannot be written, that is a
# failure with a message, not a success.
"$kelvo" --headless --size 40x30 >/dev/full 2>"$work/err"
code=$?
[ "$code" -eq 1 ] || fail "stdout on a full disk: exit $code, wanted 1"
# (Under Wine a pipe through the wrapper's CR LF filter stands between the
# program and the full disk: there only the failure itself is checked.)
case "$kelvo" in
  *wine*) ;;
  *) grep -q "standard output" "$work/err" || fail "stdout on a full disk: message: $(cat "$work/err")" ;;
esac

# Short of memory for the back buffer: a headless run or a benchmark has no
# picture to give, and says so, naming the size. (A sanitizer build reserves
# far more address space than this limit, so it cannot start under it at
# all; then this case is skipped.)
if (ulimit -v 900000 && "$kelvo" --version >/dev/null 2>&1); then
  (ulimit -v 900000 && exec "$kelvo" --headless --size 16384x16384) >"$work/out" 2>"$work/err"
  code=$?
  [ "$code" -eq 1 ] || fail "no memory for the back buffer: exit $code, wanted 1: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "no memory for the back buffer: statistics printed: $(cat "$work/out")"
  grep -q "16384x16384" "$work/err" || fail "no memory for the back buffer: message: $(cat "$work/err")"
  (ulimit -v 900000 && exec "$kelvo" --benchmark --size 16384x16384 --frames 2) >"$work/out" 2>"$work/err"
  code=$?
  [ "$code" -eq 1 ] || fail "benchmark without a back buffer: exit $code, wanted 1: $(cat "$work/out")"
  [ ! -s "$work/out" ] || fail "benchmark without a back buffer: a report: $(cat "$work/out")"
  grep -q "16384x16384" "$work/err" || fail "benchmark without a back buffer: message: $(cat "$work/err")"
else
  echo "note: the memory-limit case is skipped (this build cannot start under ulimit -v)"
fi

# A stop signal ends a long run within moments (between two rows, not after
# the frame), writes nothing and exits with 128 + the signal's number. The
# tree is built before the first frame and is not interrupted, so the signal
# is sent once a run of one tiny frame would have ended, and the time allowed
# includes that run's time once more, in case the machine slowed down.
# A Windows program under Wine gets no POSIX signal through its wrapper (and
# Windows has no SIGTERM): there Ctrl+C is a console event, not tested here.
case "$kelvo" in
  *wine*) signals=() ;;
  *) signals=(INT TERM) ;;
esac
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
begin=$(now_ms)
"$kelvo" --headless --size 1x1 >/dev/null 2>&1
build_ms=$(( $(now_ms) - begin ))
for signal in "${signals[@]}"; do
  rm -f "$work/long.png"
  "$kelvo" --headless --size 2000x2000 --frames 1000 --output "$work/long.png" \
    >"$work/out" 2>"$work/err" &
  pid=$!
  sleep "$(awk -v ms="$build_ms" 'BEGIN { print ms * 1.5 / 1000 + 1 }')"
  kill -"$signal" "$pid"
  sent=$(date +%s%N)
  wait "$pid"
  code=$?
  took=$(( ($(date +%s%N) - sent) / 1000000 ))
  wanted=$([ "$signal" = INT ] && echo 130 || echo 143)
  [ "$code" -eq "$wanted" ] || fail "SIG$signal: exit $code, wanted $wanted"
  grep -q "stopped by SIG$signal" "$work/err" || fail "SIG$signal: message: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "SIG$signal: statistics printed for an unfinished run"
  [ ! -e "$work/long.png" ] || fail "SIG$signal: a picture was written"
  [ -z "$(ls "$work" | grep kelvo-)" ] || fail "SIG$signal: a temporary file was left"
  [ "$took" -lt $(( 5000 + build_ms )) ] || fail "SIG$signal: took $took ms to stop"
  echo "measured: SIG$signal stopped a 2000x2000 run in $took ms (start-up $build_ms ms)"
done

# A stop while the PNG is being encoded (the frame is cheap: the camera looks
# away from the scene; the picture is large) ends kelvo within a second,
# with no file and no temporary file left.
for signal in "${signals[@]}"; do
  rm -f "$work/big.png"
  "$kelvo" --headless --size 6000x6000 --no-overlay --camera 0,0,-10,0,3.14159,0 \
    --output "$work/big.png" >"$work/out" 2>"$work/err" &
  pid=$!
  # The statistics come just before the encoding begins.
  for _ in $(seq 2400); do
    [ -s "$work/out" ] && break
    sleep 0.05
  done
  kill -"$signal" "$pid"
  sent=$(date +%s%N)
  wait "$pid"
  code=$?
  took=$(( ($(date +%s%N) - sent) / 1000000 ))
  wanted=$([ "$signal" = INT ] && echo 130 || echo 143)
  [ "$code" -eq "$wanted" ] || fail "SIG$signal while encoding: exit $code, wanted $wanted"
  [ ! -e "$work/big.png" ] || fail "SIG$signal while encoding: the picture was written"
  [ -z "$(ls "$work" | grep kelvo-)" ] || fail "SIG$signal while encoding: a temporary file was left"
  [ "$took" -lt 1000 ] || fail "SIG$signal while encoding: took $took ms to stop"
  grep -q "not written" "$work/err" || fail "SIG$signal while encoding: message: $(cat "$work/err")"
  echo "measured: SIG$signal stopped the encoding of a 6000x6000 picture in $took ms"
done

# Short of memory for the threads: fewer threads, a note, the same picture.
if (ulimit -v 400000 && "$kelvo" --version >/dev/null 2>&1); then
  (ulimit -v 400000 && exec "$kelvo" --headless --size 64x48 --no-overlay --threads 256 \
    --output "$work/many.png") >/dev/null 2>"$work/err"
  code=$?
  [ "$code" -eq 0 ] || fail "256 threads in 400 MB: exit $code: $(cat "$work/err")"
  grep -q "threads could be started" "$work/err" || fail "256 threads in 400 MB: note: $(cat "$work/err")"
  "$kelvo" --headless --size 64x48 --no-overlay --threads 1 --output "$work/one.png" >/dev/null 2>&1
  cmp -s "$work/many.png" "$work/one.png" || fail "256 threads in 400 MB: another picture"
  rm -f "$work/many.png" "$work/one.png"
else
  echo "note: the thread-memory case is skipped (this build cannot start under ulimit -v)"
fi

echo "headless end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

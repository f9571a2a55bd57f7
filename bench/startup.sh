#!/usr/bin/env bash
# Startup of kelvo, as medians of N runs (default 9), split into the scene's
# tree build and everything else:
#   headless: launch to exit of `kelvo --headless --frames 1` (240x200);
#   window:   launch to the first traced frame shown in the window, under Xvfb
#             with a window manager (jwm).
# The parts come from a probe preloaded into kelvo (startup_probe.cpp) that
# stamps a few library calls. Usage: bench/startup.sh path/to/kelvo [N] [kelvo options]
set -euo pipefail
kelvo=$(realpath "${1:?usage: startup.sh path/to/kelvo [runs] [options]}")
runs=${2:-9}
shift $(( $# >= 2 ? 2 : 1 ))
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -O2 -shared -fPIC -o "$work/probe.so" "$here/startup_probe.cpp" -ldl

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
least() { sort -n | head -1 | awk '{ printf "%.1f", $1 }'; }
# Launch to the end (or first frame) without the scene, run by run.
without() { paste "$work/total" "$work/build" | awk '{ printf "%.3f\n", $1 - $2 }'; }
# Milliseconds from launch ($1) to event $2, from probe lines in file $3.
at() { awk -v s="$1" -v e="$2" '$1 == "probe" && $2 == e { printf "%.3f\n", ($3 - s) / 1e6; exit }' "$3"; }

if [ "${KELVO_STARTUP_WINDOW:-}" != 1 ]; then
  : >"$work/total"; : >"$work/build"
  for _ in $(seq 1 "$runs"); do
    start=$(now)
    LD_PRELOAD="$work/probe.so" "$kelvo" --headless --frames 1 "$@" >/dev/null 2>"$work/err"
    end=$(now)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", (e - s) / 1e6 }' >>"$work/total"
    awk -v a="$(at "$start" platform_ready "$work/err")" -v b="$(at "$start" first_trace "$work/err")" \
      'BEGIN { printf "%.3f\n", b - a }' >>"$work/build"
  done
  total=$(median <"$work/total"); build=$(median <"$work/build")
  echo "headless --frames 1, medians (least) of $runs: $total ($(least <"$work/total")) ms to exit;" \
    "scene and tree $build ($(least <"$work/build")) ms; without them $(without | median) ($(without | least)) ms"
  if command -v xvfb-run >/dev/null && command -v jwm >/dev/null; then
    KELVO_STARTUP_WINDOW=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$kelvo" "$runs" "$@"
  fi
  exit 0
fi

jwm >/dev/null 2>&1 & wm=$!
sleep 1
: >"$work/total"; : >"$work/build"
for _ in $(seq 1 "$runs"); do
  : >"$work/err"
  start=$(now)
  LD_PRELOAD="$work/probe.so" "$kelvo" "$@" 2>"$work/err" & pid=$!
  for _ in $(seq 1 600); do grep -q first_frame_shown "$work/err" && break; sleep 0.05; done
  kill -TERM "$pid"; wait "$pid" || true
  at "$start" first_frame_shown "$work/err" >>"$work/total"
  awk -v a="$(at "$start" platform_ready "$work/err")" -v b="$(at "$start" scene_built "$work/err")" \
    'BEGIN { printf "%.3f\n", b - a }' >>"$work/build"
done
kill "$wm"
total=$(median <"$work/total"); build=$(median <"$work/build")
echo "window, medians (least) of $runs: $total ($(least <"$work/total")) ms to the first frame shown;" \
  "scene and tree $build ($(least <"$work/build")) ms; without them $(without | median) ($(without | least)) ms"

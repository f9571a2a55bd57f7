#!/usr/bin/env bash
# End to end for the Windows build, in a real window under Wine, Xvfb and a
# small window manager: the window "vell" appears, a screenshot shows green
# spheres and the overlay, holding W flies the camera, and closing the window
# ends kelvo.exe with exit code 0.
#   window_wine_test.sh RUNNER   (RUNNER starts kelvo.exe under Wine)
set -uo pipefail
kelvo=${1:?usage: window_wine_test.sh path/to/kelvo-runner}

for tool in xvfb-run xdotool jwm wmctrl /usr/bin/import /usr/bin/convert /usr/bin/compare; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

if [ -z "${KELVO_IN_XVFB:-}" ]; then
  export KELVO_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$kelvo"
fi

work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
  kill "${wm:-}" 2>/dev/null
  if [ -n "${pid:-}" ]; then
    pkill -KILL -P "$pid" 2>/dev/null
    kill -KILL "$pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Without a window manager every close stalls for seconds in Wine.
jwm >/dev/null 2>&1 & wm=$!
sleep 1

"$kelvo" >"$work/out" 2>"$work/err" & pid=$!
wid=$(timeout 180 xdotool search --sync --name '^vell$' | head -1)
if [ -z "$wid" ]; then
  fail "no window titled vell appeared: $(cat "$work/err")"
else
  sleep 3
  shot() { timeout 30 /usr/bin/import -window "$wid" "$work/$1.png"; }
  fraction() { /usr/bin/convert "$work/$1.png" "${@:3}" -fx "$2" -format '%[fx:mean]' info:; }
  rmse() { /usr/bin/compare -metric RMSE "$work/$1.png" "$work/$2.png" null: 2>&1 | sed -E 's/.*\((.*)\).*/\1/'; }
  above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

  shot a
  sleep 0.5
  shot b
  size=$(/usr/bin/identify -format '%wx%h' "$work/a.png")
  green=$(fraction a '(g>0.45 && r<0.3 && b<0.3) ? 1 : 0')
  above "$green" 0.02 || fail "green spheres: only $green of the picture is green"
  white=$(fraction a '(r>0.99 && g>0.99 && b>0.99) ? 1 : 0' -crop 80x39+0+0 +repage)
  above "$white" 0.3 || fail "overlay: only $white of the corner is white"
  black=$(fraction a '(r<0.01 && g<0.01 && b<0.01) ? 1 : 0' -crop 80x39+0+0 +repage)
  above "$black" 0.05 || fail "overlay: only $black of the corner is black text"
  still=$(rmse a b)

  timeout 10 xdotool windowactivate --sync "$wid" >/dev/null 2>&1
  xdotool keydown w
  sleep 2
  xdotool keyup w
  sleep 0.5
  shot c
  moved=$(rmse a c)
  above "$moved" "$(awk -v s="$still" 'BEGIN { print 3 * s + 0.02 }')" ||
    fail "holding W: the picture changed by $moved, no more than a still camera's $still"
  echo "measured: client $size, green $green, white corner $white, black text $black, still $still, after W $moved"

  wmctrl -c vell
  for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    fail "closing the window: kelvo.exe is still running"
    kill -KILL "$pid"
  fi
  wait "$pid"
  code=$?
  [ "$code" -eq 0 ] || fail "closing the window: exit code $code, wanted 0: $(cat "$work/err")"
  pid=""
fi

echo "window end-to-end under Wine: $failures failure(s)"
[ "$failures" -eq 0 ]

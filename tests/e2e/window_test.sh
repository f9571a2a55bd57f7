#!/usr/bin/env bash
# End to end with a real window under Xvfb and a small window manager: the
# window "vell" shows green spheres and the overlay, holding W flies the
# camera, resizing changes the size line, and closing or a signal ends kelvo
# with exit code 0, a signal even in the middle of a long frame. Minimised,
# on another workspace (jwm) or shaded (openbox) it idles; destroyed from
# outside it ends as if closed.
set -uo pipefail
kelvo=${1:?usage: window_test.sh path/to/kelvo}

for tool in xvfb-run xdotool jwm wmctrl /usr/bin/import /usr/bin/compare /usr/bin/identify; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

if [ -z "${KELVO_IN_XVFB:-}" ]; then
  export KELVO_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$kelvo"
fi

set -m  # background jobs keep SIGINT, as a program started from a terminal does
work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
  kill "${wm:-}" 2>/dev/null
  [ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

jwm >/dev/null 2>&1 & wm=$!
sleep 1

# Waits for the window and a few frames; the tree takes seconds to build,
# longer in a sanitizer build.
start() {
  "$kelvo" "$@" & pid=$!
  wid=$(timeout 180 xdotool search --sync --name '^vell$' | head -1)
  if [ -z "$wid" ]; then
    fail "no window titled vell appeared"
    return 1
  fi
  sleep 2
}
shot() { timeout 30 /usr/bin/import -window "$wid" "$work/$1.png"; }
# ImageMagick 7 calls the converter magick and warns on its old name.
if command -v magick >/dev/null 2>&1; then convert=magick; else convert=/usr/bin/convert; fi
fraction() { "$convert" "$work/$1.png" "${@:3}" -fx "$2" -format '%[fx:mean]' info:; }
rmse() { /usr/bin/compare -metric RMSE "$work/$1.png" "$work/$2.png" null: 2>&1 | sed -E 's/.*\((.*)\).*/\1/'; }
above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
finish() {
  local what=$1
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    fail "$what: kelvo is still running"
    kill -KILL "$pid"
  fi
  wait "$pid"
  local code=$?
  [ "$code" -eq 0 ] || fail "$what: exit code $code, wanted 0"
  pid=""
}

if start; then
  shot a
  sleep 0.5
  shot b
  green=$(fraction a '(g>0.45 && r<0.3 && b<0.3) ? 1 : 0')
  above "$green" 0.02 || fail "green spheres: only $green of the picture is green"
  white=$(fraction a '(r>0.99 && g>0.99 && b>0.99) ? 1 : 0' -crop 80x39+0+0 +repage)
  above "$white" 0.3 || fail "overlay: only $white of the corner is white"
  still=$(rmse a b)

  timeout 10 xdotool windowactivate --sync "$wid" >/dev/null 2>&1
  xdotool keydown w
  sleep 1.5
  xdotool keyup w
  sleep 0.5
  shot c
  moved=$(rmse a c)
  above "$moved" "$(awk -v s="$still" 'BEGIN { print 3 * s + 0.02 }')" ||
    fail "holding W: the picture changed by $moved, no more than a still camera's $still"

  # The second overlay line, the client size: the same text gives the same
  # pixels, a new size other ones.
  "$convert" "$work/a.png" -crop 49x13+0+13 +repage "$work/line-a.png"
  "$convert" "$work/b.png" -crop 49x13+0+13 +repage "$work/line-b.png"
  xdotool windowsize "$wid" 400 300
  sleep 2
  shot d
  "$convert" "$work/d.png" -crop 49x13+0+13 +repage "$work/line-d.png"
  [ "$(rmse line-a line-b)" = "0" ] || fail "the size line changes without a resize"
  [ "$(rmse line-a line-d)" != "0" ] || fail "the size line did not change after resizing"
  [ "$(/usr/bin/identify -format '%wx%h' "$work/d.png")" = "400x300" ] || fail "resized window size"

  echo "measured: green $green, white corner $white, still $still, after W $moved"
  wmctrl -c vell
  finish "closing the window"
fi

for signal in TERM INT; do
  if start --size 160x120; then
    kill -"$signal" "$pid"
    finish "SIG$signal"
  fi
done

# Ctrl+C during a long frame: the stop comes between two rows, not after the
# picture is done (a 3000x3000 frame takes many seconds).
if start --size 3000x3000; then
  kill -INT "$pid"
  sent=$(date +%s%N)
  for _ in $(seq 1 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  took=$(( ($(date +%s%N) - sent) / 1000000 ))
  kill -0 "$pid" 2>/dev/null && fail "SIGINT in a long frame: still running after 3 s"
  finish "SIGINT in a long frame"
  echo "measured: SIGINT ended a 3000x3000 window in $took ms"
fi

# Nobody can see the window: it idles. CPU time of kelvo's threads in percent
# of one core over two seconds. A drawing kelvo takes all the CPU it is given,
# which on a busy machine may be little, so "seen" is judged against "hidden".
ran() { cat /proc/"$pid"/task/*/schedstat 2>/dev/null | awk '{ t += $1 } END { printf "%d\n", t / 1e6 }'; }
cpu() {
  local before after
  before=$(ran); sleep 2; after=$(ran)
  echo $(( (after - before) / 20 ))
}
idles() {  # what, then the command that hides it, then the one that shows it
  local what=$1 hide=$2 show=$3 hidden shown
  eval "$hide"; sleep 1; hidden=$(cpu)
  eval "$show"; sleep 1; shown=$(cpu)
  echo "measured: $what: CPU $hidden % hidden, $shown % seen again"
  [ "$hidden" -lt 10 ] || fail "$what: $hidden % CPU while nobody can see the window"
  [ "$shown" -ge 15 ] && [ "$shown" -gt $(( 3 * hidden )) ] ||
    fail "$what: only $shown % CPU once seen again (frames stopped?)"
}
if start; then
  idles "minimised" "xdotool windowminimize $wid" "wmctrl -i -a $wid"
  wmctrl -i -r "$wid" -b add,maximized_vert,maximized_horz; sleep 1
  idles "minimised while maximised" "xdotool windowminimize $wid" "wmctrl -i -a $wid"
  idles "on another workspace" "wmctrl -s 1" "wmctrl -s 0"
  wmctrl -c vell
  finish "closing after idling"
fi
kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null; wm=""
if command -v openbox >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 & wm=$!
  sleep 1
  if start; then
    idles "shaded (openbox)" "wmctrl -i -r $wid -b add,shaded" "wmctrl -i -r $wid -b remove,shaded"
    wmctrl -c vell
    finish "closing under openbox"
  fi
  kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null; wm=""
fi

# Without a window manager, a window destroyed from outside is a close: no X
# error, exit code 0.
if start 2>"$work/destroyed.err"; then
  xdotool windowclose "$wid"
  finish "window destroyed from outside"
  grep -q "X Error" "$work/destroyed.err" && fail "window destroyed from outside: $(cat "$work/destroyed.err")"
fi

echo "window end-to-end: $failures failure(s)"
[ "$failures" -eq 0 ]

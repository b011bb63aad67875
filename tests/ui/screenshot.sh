#!/bin/bash
# Captures the test program's window under Xvfb: starts ui_child, waits for
# its window to settle, grabs the screen with ImageMagick's import and crops
# it to the window. Usage: screenshot.sh UI_CHILD.EXE OUTPUT.png
set -euo pipefail
exe=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine-env.sh"
: "${WINEPREFIX:=$(rt_find_build_dir "$exe")/wineprefix}"
export WINEPREFIX
rt_ensure_prefix
own_x=
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:97
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 >/dev/null 2>&1 &
  own_x=$!
  sleep 2
fi
wine "$exe" >/dev/null 2>&1 &
child=$!
sleep 6
raw=$(mktemp --suffix=.png)
import -window root "$raw"
# Without a window manager only the window itself is drawn on the black
# root: trimming the black away leaves the window.
convert-im6.q16 "$raw" -trim +repage "$out" 2>/dev/null || convert "$raw" -trim +repage "$out"
rm -f "$raw"
kill "$child" 2>/dev/null || true

[ -n "$own_x" ] && kill "$own_x" 2>/dev/null || true
test -s "$out"

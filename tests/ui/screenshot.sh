#!/bin/bash
# Captures the test program's window under Xvfb: starts ui_child, waits for
# its window, grabs the screen with ImageMagick's import and crops it to the
# window. Usage: screenshot.sh UI_CHILD.EXE OUTPUT.png
set -euo pipefail
exe=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine-env.sh"
rt_wine_session "$(rt_find_build_dir "$exe")" 'kill "${child:-}" 2>/dev/null'
wine "$exe" >/dev/null 2>&1 &
child=$!
rt_wait_window "MainWindow\|devarude"
# The first refresh fills the boxes once the window shows.
sleep 1
raw=$(mktemp --suffix=.png)
import -window root "$raw"
# Without a window manager only the window itself is drawn on the black
# root: trimming the black away leaves the window.
convert-im6.q16 "$raw" -trim +repage "$out" 2>/dev/null || convert "$raw" -trim +repage "$out"
rm -f "$raw"
test -s "$out"

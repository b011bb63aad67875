#!/bin/bash
# Regenerates docs/screenshots/main-window.png: opens the tool against the
# local time service on a private Xvfb, waits for the first refreshes, and
# shoots the main window.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh win || exit 1
. tools/wine-env.sh
unset DISPLAY
rt_wine_session "$root/build/win" 'rt_stop_time_service; wineserver -k 2>/dev/null' || exit 1
rt_start_time_service
# A Wine virtual desktop draws the window frame and caption, which a bare
# Xvfb without a window manager would not.
wine explorer /desktop=shot,560x300 build/win/app/timecal-local.exe &
rt_wait_window '"shot' 300 || { echo "no window" >&2; exit 1; }
sleep 4
mkdir -p docs/screenshots
# The desktop sits at the screen's origin and centres the 372x140 window at
# (94, 80); keep a 6-pixel margin of desktop around it.
shot=$(mktemp --suffix=.png)
import -window root "$shot"
convert "$shot" -crop 384x152+88+74 +repage docs/screenshots/main-window.png
rm -f "$shot"
echo "docs/screenshots/main-window.png"

#!/bin/bash
# Regenerates docs/screenshots/main-window.png: opens the tool against the
# local time service on a private Xvfb, waits for the first refreshes, and
# shoots the main window.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/build.sh win || exit 1
. tools/wine-env.sh
. tools/xvfb.sh
unset DISPLAY
rt_start_xvfb || exit 1
export WINEPREFIX="$root/build/win/wineprefix"
rt_ensure_prefix
python3 tools/timeservice.py --port 18080 >/dev/null &
service=$!
trap 'kill $service 2>/dev/null; wineserver -k 2>/dev/null; rt_stop_xvfb' EXIT
wine build/win/app/timecal-local.exe &
id=
for _ in $(seq 100); do
  id=$(xwininfo -root -tree 2>/dev/null | grep -a 'devarude' | awk '{print $1}' | head -1)
  [ -n "$id" ] && break
  sleep 0.2
done
[ -n "$id" ] || { echo "no window" >&2; exit 1; }
sleep 3
mkdir -p docs/screenshots
import -window "$id" -frame docs/screenshots/main-window.png 2>/dev/null ||
  import -window root docs/screenshots/main-window.png
echo "docs/screenshots/main-window.png"

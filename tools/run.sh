#!/bin/bash
# The tool's main job: sets up, builds and opens the time calibration tool
# under Wine. By default it asks the local time service (tools/timeservice.py
# on 127.0.0.1:18080), so it works offline; --public asks the public service.
# With no display it opens on a private Xvfb and saves build/screenshot.png.
#   tools/run.sh [--public] [--for SECONDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
public=0
seconds=0
while [ $# -gt 0 ]; do
  case $1 in
    --public) public=1 ;;
    --for) seconds=$2; shift ;;
    *) echo "usage: tools/run.sh [--public] [--for SECONDS]" >&2; exit 2 ;;
  esac
  shift
done
bash tools/setup.sh || exit 1
bash tools/build.sh win || exit 1

. tools/wine-env.sh
headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
  unset DISPLAY
  [ "$seconds" = 0 ] && seconds=8
fi
rt_wine_session "$root/build/win" 'rt_stop_time_service' || exit 1

exe=build/win/app/timecal-local.exe
if [ $public = 1 ]; then
  exe=build/win/app/timecal.exe
else
  rt_start_time_service
fi

if [ $headless = 1 ]; then
  # A Wine desktop draws the window frame that a bare Xvfb has no manager for.
  wine explorer /desktop=timecal,640x360 "$exe" &
else
  wine "$exe" &
fi
tool_pid=$!
if [ "$seconds" != 0 ]; then
  # The seconds count from the desktop's showing: starting Wine can take
  # longer than they (many times longer under an emulator).
  [ $headless = 1 ] && rt_wait_window '"timecal' 600
  sleep "$seconds"
  if [ $headless = 1 ]; then
    import -window root -crop 640x360+0+0 +repage build/screenshot.png 2>/dev/null &&
      echo "screenshot: build/screenshot.png"
  fi
  # The tool was ended here on purpose: its exit code says nothing.
  wineserver -k 2>/dev/null
  wait $tool_pid 2>/dev/null
  exit 0
fi
wait $tool_pid

#!/bin/bash
# Regenerates docs/screenshots/precise-window.png: opens the precise
# program's test build on a private Xvfb against four loopback sources (two
# local time services that agree, one that is 6 s off and one port where
# nothing listens), waits for the first measurement, and shoots the window.
# Then installs the time-keeping service in Wine's service manager (its test
# build, whose clock is a seam that writes each set to a file) with the same
# sources, waits for its first measurement and shoots the window as its
# client, docs/screenshots/precise-window-service.png, and uninstalls it.
# Neither test build ever sets the clock.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Only the program it shoots: configured as tools/build.sh does.
[ -f build/win/CMakeCache.txt ] || cmake -S . -B build/win \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/win --target timecal_precise_probe timecal_service_probe -j "$(nproc)" >/dev/null || exit 1
. tools/wine-env.sh
unset DISPLAY
dir=$(mktemp -d)
pids=()
rt_wine_session "$root/build/win" \
  'wine "$service" --uninstall >/dev/null 2>&1; kill "${pids[@]}" 2>/dev/null; rm -rf "$dir"; wineserver -k 2>/dev/null' || exit 1
service=build/win/precise/timecal_service_probe.exe
wine "$service" --uninstall >/dev/null 2>&1  # what an interrupted run may have left
urls=
for offset in 1.234 1.234 7.5; do
  python3 tools/timeservice.py --port 0 --port-file "$dir/port" --offset "$offset" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$dir/port" ] && break; sleep 0.1; done
  urls="$urls http://127.0.0.1:$(cat "$dir/port")/getSysTime.do"
  rm -f "$dir/port"
done
export TIMECAL_URL="${urls# } http://127.0.0.1:9/getSysTime.do"
# A Wine virtual desktop draws the window frame and caption, which a bare
# Xvfb without a window manager would not.
wine explorer /desktop=shot,700x420 build/win/precise/timecal_precise_probe.exe &
rt_wait_window '"shot' 300 || { echo "no window" >&2; exit 1; }
sleep $((15 * ${RT_TEST_TIME_SCALE:-1}))  # the first measurement (longer under an emulator)
mkdir -p docs/screenshots
# The desktop sits at the screen's origin and centres the 524x356 window at
# (88, 32); keep a 6-pixel margin of desktop around it.
shoot() {
  local shot
  shot=$(mktemp --suffix=.png)
  import -window root "$shot"
  convert "$shot" -crop 536x368+82+26 +repage "docs/screenshots/$1"
  rm -f "$shot"
  echo "docs/screenshots/$1"
}
shoot precise-window.png
# The service's settings first (its install starts it at once): where its
# clock seam and its measurement log write.
key='HKLM\SYSTEM\CurrentControlSet\Services\TimecalPrecise\Parameters'
wine reg add "$key" /v ClockLog /t REG_SZ /d "Z:${dir//\//\\}\\clock.log" /f >/dev/null 2>&1
wine reg add "$key" /v MeasureLog /t REG_SZ /d "Z:${dir//\//\\}\\measure.log" /f >/dev/null 2>&1
wine "$service" --install $TIMECAL_URL || { echo "the service did not install" >&2; exit 1; }
for _ in $(seq $((60 * ${RT_TEST_TIME_SCALE:-1}))); do [ -s "$dir/measure.log" ] && break; sleep 1; done
[ -s "$dir/measure.log" ] || { echo "the service measured nothing" >&2; exit 1; }
sleep $((4 * ${RT_TEST_TIME_SCALE:-1}))  # the window looks once a second
shoot precise-window-service.png

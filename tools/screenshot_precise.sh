#!/bin/bash
# Regenerates docs/screenshots/precise-window.png: opens the precise
# program's test build on a private Xvfb against four loopback sources (two
# local time services that agree, one that is 6 s off and one port where
# nothing listens), waits for the first measurement, and shoots the window.
# Then starts a stand-in for the time-keeping service on its pipe
# (tests/precise/fake_keeper.exe) and shoots the window as its client,
# docs/screenshots/precise-window-service.png. The test build never sets the
# clock.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Only the program it shoots: configured as tools/build.sh does.
[ -f build/win/CMakeCache.txt ] || cmake -S . -B build/win \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/win --target timecal_precise_probe fake_keeper_exe -j "$(nproc)" >/dev/null || exit 1
. tools/wine-env.sh
unset DISPLAY
dir=$(mktemp -d)
pids=()
rt_wine_session "$root/build/win" \
  'kill "${pids[@]}" 2>/dev/null; rm -rf "$dir"; wineserver -k 2>/dev/null' || exit 1
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
# The service's result from a minute ago: +0.012 s, three of four sources.
wine build/win/tests/precise/fake_keeper.exe 600 12345 3000 3 4 &
pids+=($!)
sleep $((4 * ${RT_TEST_TIME_SCALE:-1}))  # the window looks once a second
shoot precise-window-service.png

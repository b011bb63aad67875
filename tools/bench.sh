#!/bin/bash
# Runs every benchmark and prints its figures (nothing is asserted): the
# native text benchmarks built without sanitizers, and the Windows ones
# (memory, windows, web, JSON, the tool itself) under Wine on a private Xvfb.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh >/dev/null || exit 1
bash tools/build.sh win || exit 1
if [ ! -f build/bench-native/CMakeCache.txt ]; then
  cmake -S . -B build/bench-native -DCMAKE_BUILD_TYPE=Release -DRT_SANITIZE=OFF >/dev/null
fi
cmake --build build/bench-native -j "$(nproc)" --target bench_core_text >/dev/null || exit 1

echo "== text commands (native)"
build/bench-native/bench/bench_core_text

. tools/wine-env.sh
. tools/xvfb.sh
unset DISPLAY
rt_start_xvfb || exit 1
export WINEPREFIX="$root/build/win/wineprefix"
trap 'wineserver -k 2>/dev/null; rt_stop_xvfb' EXIT
rt_ensure_prefix
for b in bench_memory bench_ui bench_web bench_json bench_app precision/bench_precision; do
  [ -f "build/win/bench/$b.exe" ] || continue
  echo "== $b (Wine)"
  wine "build/win/bench/$b.exe"
done

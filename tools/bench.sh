#!/bin/bash
# Runs every benchmark and prints its figures (nothing is asserted): the
# native text benchmarks built without sanitizers, and the Windows ones
# (memory, windows, web, JSON, the tool itself) under Wine on a private Xvfb,
# and timecal-query beside Debian's htpdate (bench/bench_precision.py).
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
unset DISPLAY
work=$(mktemp -d)
service=
rt_wine_session "$root/build/win" \
  'kill $service 2>/dev/null; rm -rf "$work"; wineserver -k 2>/dev/null' || exit 1
# The local time service for bench_app, stopped again at the end.
python3 tools/timeservice.py --port 0 --port-file "$work/port" >/dev/null 2>&1 &
service=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
export BENCH_SERVICE_PORT=$(cat "$work/port" 2>/dev/null)
for b in bench_memory bench_ui bench_web bench_json bench_app precision/bench_precision; do
  [ -f "build/win/bench/$b.exe" ] || continue
  echo "== $b (Wine)"
  wine "build/win/bench/$b.exe"
done
echo "== bench_precision.py: timecal-query (Wine) beside htpdate (Linux)"
python3 bench/bench_precision.py "$root/build/win/query/timecal-query.exe" 3

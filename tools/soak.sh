#!/bin/bash
# A compressed day: runs the tool's test build for REFRESHES refreshes
# (86,400 unless given) at a PERIOD_MS period (1 unless given) against the
# local time service on 127.0.0.1, RUNS copies side by side (1 unless
# given; each its own process, window and log). Every 1,000 refreshes each
# logs where its memory is (the columns: app/probe.cpp). The script prints
# a row per run every 10,000 refreshes and, per run, the growth of private
# bytes from the 6,000th refresh to the last and the range of its handles.
# The logs stay in build/soak/run-N.log; tools/soak_plot.py draws them.
#   tools/soak.sh [REFRESHES] [PERIOD_MS] [RUNS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
refreshes=${1:-86400}
period=${2:-1}
runs=${3:-1}
bash tools/build.sh win >/dev/null || exit 1
. tools/wine-env.sh
. tools/xvfb.sh
unset DISPLAY
export WINEPREFIX="$root/build/win/wineprefix"
work=$(mktemp -d)
out="$root/build/soak"
mkdir -p "$out"
rt_start_xvfb || exit 1
python3 tools/timeservice.py --port 0 --port-file "$work/port" >/dev/null 2>&1 &
service=$!
tools=()
trap 'kill $service "${tools[@]}" 2>/dev/null; wineserver -k 2>/dev/null; rt_stop_xvfb; rm -rf "$work"' EXIT
rt_ensure_prefix
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the time service did not start"; exit 1; }

# A copy of the test build, so that a rebuild during the run cannot touch it.
cp build/win/app/timecal_probe.exe "$work/"
for run in $(seq "$runs"); do
  rm -f "$out/run-$run.log"
  TIMECAL_URL="http://127.0.0.1:$(cat "$work/port")/getSysTime.do" TIMECAL_TIMER_MS=$period \
    TIMECAL_STATS_EVERY=1000 TIMECAL_STATS_HEAPS=1 TIMECAL_STATS_LOG="Z:$out/run-$run.log" \
    wine "$work/timecal_probe.exe" >/dev/null 2>&1 &
  tools+=($!)
done
began=$(date +%s)
echo "$runs run(s) side by side: $refreshes refreshes at $period ms"
printf '%3s %9s %9s %9s %9s %9s %8s %6s %6s %8s %8s\n' run refreshes private heaps "rt bytes" "rt blocks" \
  engines host inet handles seconds
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
declare -A shown
done_runs=0
while [ "$done_runs" -lt "$runs" ]; do
  sleep 10
  done_runs=0
  for run in $(seq "$runs"); do
    log="$out/run-$run.log"
    [ -f "$log" ] || continue
    while read -r n priv ws handles user gdi blocks bytes objects spare host inet heaps committed; do
      [ "$n" -gt "${shown[$run]:-0}" ] || continue
      if [ "$n" = 1000 ] || [ $((n % 10000)) = 0 ] || [ "$n" -ge "$refreshes" ]; then
        printf '%3d %9d %8sM %8sM %8sK %9d %8d %6d %6d %8d %8d\n' "$run" "$n" "$(mb "$priv")" "$(mb "$heaps")" \
          "$((bytes / 1024))" "$blocks" $((objects + spare)) "$host" "$inet" "$handles" $(($(date +%s) - began))
      fi
      shown[$run]=$n
    done < "$log"
    if [ "${shown[$run]:-0}" -ge "$refreshes" ] || ! kill -0 "${tools[$((run - 1))]}" 2>/dev/null; then
      done_runs=$((done_runs + 1))
    fi
  done
done
kill "${tools[@]}" 2>/dev/null
wait "${tools[@]}" 2>/dev/null
status=0
for run in $(seq "$runs"); do
  awk -v run="$run" '$1 >= 6000 { if (!p0) { p0 = $2; n0 = $1 } p = $2; n = $1 }
    { if (h == "" || $4 < hmin) hmin = $4; if ($4 > hmax) hmax = $4; h = 1 }
    END { if (!p0) { print "run " run ": no figures from the 6,000th refresh on"; exit 1 }
          printf "run %s: private bytes %+.2f MB from the %dth refresh to the %dth; handles %d to %d\n",
                 run, (p - p0) / 1048576, n0, n, hmin, hmax }' "$out/run-$run.log" || status=1
done
exit $status

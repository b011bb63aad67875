#!/bin/bash
# A compressed day, RUNS copies side by side (1 unless given; each its own
# process, window and log), against local time services on 127.0.0.1:
#   the tool's test build: REFRESHES refreshes (86,400 unless given) at a
#     PERIOD_MS period (1 unless given);
#   --precise: the precise window's test build, its clock display ticking
#     every PERIOD_MS for REFRESHES ticks, automatic mode on and measuring
#     every 10 s against three local sources 2.5 s ahead, so that each
#     measurement asks to set the clock (only through its seam).
# Every 1,000 refreshes (ticks) each copy logs where its memory is (the
# columns: app/probe.cpp, precise/probe.cpp). The script prints a row every
# 10,000 and, per run, the growth of private bytes from the 6,000th to the
# last and the range of its handles. The logs stay in build/soak/
# (run-N.log, precise-N.log); tools/soak_plot.py draws them.
#   tools/soak.sh [--precise] [REFRESHES] [PERIOD_MS] [RUNS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
precise=
[ "${1:-}" = --precise ] && { precise=1; shift; }
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
services=()
tools=()
trap 'kill "${services[@]}" "${tools[@]}" 2>/dev/null; wineserver -k 2>/dev/null; rt_stop_xvfb; rm -rf "$work"' EXIT
rt_ensure_prefix
urls=
sources=1
[ -n "$precise" ] && sources=3
for i in $(seq "$sources"); do
  python3 tools/timeservice.py ${precise:+--offset 2.5} --port 0 --port-file "$work/port$i" >/dev/null 2>&1 &
  services+=($!)
  for _ in $(seq 100); do [ -s "$work/port$i" ] && break; sleep 0.1; done
  [ -s "$work/port$i" ] || { echo "the time service did not start"; exit 1; }
  urls="$urls${urls:+ }http://127.0.0.1:$(cat "$work/port$i")/getSysTime.do"
done

# A copy of the test build, so that a rebuild during the run cannot touch it;
# the precise build's columns: ticks, private, working set, handles, Runtime
# blocks and bytes, heaps in use and committed.
if [ -n "$precise" ]; then
  cp build/win/precise/timecal_precise_probe.exe "$work/probe.exe"
  name=precise what="precise window" cols=(4 5 6)   # Runtime blocks, its bytes, heaps in use
  export TIMECAL_AUTO_ON=1 TIMECAL_AUTO_MS=10000,10000
else
  cp build/win/app/timecal_probe.exe "$work/probe.exe"
  name=run what=tool cols=(6 7 12)      # and then engines, spare, host references, WinINet handles
  export TIMECAL_STATS_HEAPS=1
fi
for run in $(seq "$runs"); do
  rm -f "$out/$name-$run.log"
  TIMECAL_URL="$urls" TIMECAL_TIMER_MS=$period TIMECAL_STATS_EVERY=1000 TIMECAL_STATS_LOG="Z:$out/$name-$run.log" \
    TIMECAL_CLOCK_LOG="Z:$work/clock-$run.log" wine "$work/probe.exe" >/dev/null 2>&1 &
  tools+=($!)
done
began=$(date +%s)
echo "$runs run(s) side by side of the $what: $refreshes at $period ms"
extra=
[ -n "$precise" ] || extra=$(printf ' %8s %6s %6s' engines host inet)
printf '%3s %9s %9s %9s %8s %9s %9s%s %8s\n' run count private heaps handles "rt blocks" "rt bytes" "$extra" seconds
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
declare -A shown
finished=0
while [ "$finished" -lt "$runs" ]; do
  sleep 10
  finished=0
  for run in $(seq "$runs"); do
    log="$out/$name-$run.log"
    [ -f "$log" ] || continue
    while read -r -a c; do
      n=${c[0]}
      [ "$n" -gt "${shown[$run]:-0}" ] || continue
      if [ "$n" = 1000 ] || [ $((n % 10000)) = 0 ] || [ "$n" -ge "$refreshes" ]; then
        extra=
        [ -n "$precise" ] || extra=$(printf ' %8d %6d %6d' $((c[8] + c[9])) "${c[10]}" "${c[11]}")
        printf '%3d %9d %8sM %8sM %8d %9d %8sK%s %8d\n' "$run" "$n" "$(mb "${c[1]}")" "$(mb "${c[${cols[2]}]}")" \
          "${c[3]}" "${c[${cols[0]}]}" $((c[${cols[1]}] / 1024)) "$extra" $(($(date +%s) - began))
      fi
      shown[$run]=$n
    done < "$log"
    if [ "${shown[$run]:-0}" -ge "$refreshes" ] || ! kill -0 "${tools[$((run - 1))]}" 2>/dev/null; then
      finished=$((finished + 1))
    fi
  done
done
kill "${tools[@]}" 2>/dev/null
wait "${tools[@]}" 2>/dev/null
status=0
for run in $(seq "$runs"); do
  awk -v run="$run" '$1 >= 6000 { if (!p0) { p0 = $2; n0 = $1 } p = $2; n = $1 }
    { if (h == "" || $4 < hmin) hmin = $4; if ($4 > hmax) hmax = $4; h = 1 }
    END { if (!p0) { print "run " run ": no figures from the 6,000th on"; exit 1 }
          printf "run %s: private bytes %+.2f MB from the %dth to the %dth; handles %d to %d\n",
                 run, (p - p0) / 1048576, n0, n, hmin, hmax }' "$out/$name-$run.log" || status=1
  [ -n "$precise" ] && echo "run $run: $(grep -c . "$work/clock-$run.log" 2>/dev/null || echo 0) clock request(s)"
done
exit $status

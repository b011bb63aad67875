#!/bin/bash
# A compressed day: runs the tool's test build for REFRESHES refreshes
# (86,400 unless given) at a PERIOD_MS period (1 unless given) against the
# local time service on 127.0.0.1, and prints its figures every 10,000
# refreshes: private bytes, working set, handles, USER and GDI objects.
#   tools/soak.sh [REFRESHES] [PERIOD_MS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
refreshes=${1:-86400}
period=${2:-1}
bash tools/build.sh win >/dev/null || exit 1
. tools/wine-env.sh
. tools/xvfb.sh
unset DISPLAY
export WINEPREFIX="$root/build/win/wineprefix"
work=$(mktemp -d)
rt_start_xvfb || exit 1
python3 tools/timeservice.py --port 0 --port-file "$work/port" >/dev/null 2>&1 &
service=$!
trap 'kill $service 2>/dev/null; [ -n "${tool:-}" ] && kill $tool 2>/dev/null; wineserver -k 2>/dev/null; rt_stop_xvfb; rm -rf "$work"' EXIT
rt_ensure_prefix
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the time service did not start"; exit 1; }

# A copy of the test build, so that a rebuild during the run cannot touch it.
cp build/win/app/timecal_probe.exe "$work/"
TIMECAL_URL="http://127.0.0.1:$(cat "$work/port")/getSysTime.do" TIMECAL_TIMER_MS=$period \
  TIMECAL_STATS_LOG="Z:$work/stats.log" wine "$work/timecal_probe.exe" >/dev/null 2>&1 &
tool=$!
began=$(date +%s)
printf '%9s %14s %14s %8s %6s %6s %8s\n' refreshes "private bytes" "working set" handles USER GDI seconds
shown=0
while kill -0 $tool 2>/dev/null; do
  sleep 5
  [ -f "$work/stats.log" ] || continue
  while read -r n priv ws handles user gdi; do
    [ "$n" -gt "$shown" ] || continue
    if [ "$n" = 100 ] || [ $((n % 10000)) = 0 ] || [ "$n" -ge "$refreshes" ]; then
      printf '%9d %14d %14d %8d %6d %6d %8d\n' "$n" "$priv" "$ws" "$handles" "$user" "${gdi:-0}" \
        $(($(date +%s) - began))
    fi
    shown=$n
  done < "$work/stats.log"
  [ "$shown" -ge "$refreshes" ] && break
done
first=$(head -1 "$work/stats.log")
last=$(grep "^$shown " "$work/stats.log")
set -- $first
p0=$2
set -- $last
echo "private bytes per refresh, 100th to ${shown}th: $(( ($2 - p0) / (shown - 100) )) B"

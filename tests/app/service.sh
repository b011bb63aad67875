#!/bin/bash
# ctest fixture: starts or stops the local time service for the end-to-end
# tests, on 127.0.0.1 with a free port written to DIR/service.port.
#   service.sh start|stop DIR
set -u
dir=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
case $1 in
  start)
    rm -f "$dir/service.port"
    nohup python3 "$root/tools/timeservice.py" --zone local --port 0 --port-file "$dir/service.port" \
      >/dev/null 2>&1 &
    echo $! > "$dir/service.pid"
    for _ in $(seq 100); do
      [ -s "$dir/service.port" ] && exit 0
      sleep 0.1
    done
    echo "time service did not start" >&2
    exit 1 ;;
  stop)
    [ -f "$dir/service.pid" ] && kill "$(cat "$dir/service.pid")" 2>/dev/null
    rm -f "$dir/service.pid" "$dir/service.port"
    exit 0 ;;
esac
exit 2

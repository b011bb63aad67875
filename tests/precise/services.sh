#!/bin/bash
# ctest fixture: starts or stops three local time services for the precise
# program's end-to-end tests, on 127.0.0.1 with free ports written to
# DIR/service<i>.port. They serve Beijing time, as the public service does.
#   services.sh start|stop DIR
set -u
dir=$2
here=$(cd "$(dirname "$0")" && pwd)
case $1 in
  start)
    for i in 0 1 2; do
      mkdir -p "$dir/s$i"
      bash "$here/../app/service.sh" start "$dir/s$i" || exit 1
      cp "$dir/s$i/service.port" "$dir/service$i.port"
    done ;;
  stop)
    for i in 0 1 2; do
      bash "$here/../app/service.sh" stop "$dir/s$i"
      rm -f "$dir/service$i.port"
    done ;;
  *) exit 2 ;;
esac

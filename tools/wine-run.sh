#!/bin/bash
# Runs one Windows executable under Wine with the project's environment:
# the ctest emulator for every Windows test. Uses $DISPLAY when set (the
# test script starts one Xvfb for the whole run), else a private Xvfb.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
exe=$1
shift
: "${WINEPREFIX:=$(rt_find_build_dir "$exe")/wineprefix}"
export WINEPREFIX
rt_ensure_prefix
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$exe" "$@"
fi
exec wine "$exe" "$@"

#!/bin/bash
# The whole test suite: installs what is missing, builds the trees, then
# one ctest run over build/native (sanitizers, corpus replays), build/fuzz
# (bounded libFuzzer runs) and build/win (under Wine and Xvfb). Ends with
# ctest's summary line.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh || exit 1
bash tools/build.sh all || exit 1

. tools/wine-env.sh
. tools/xvfb.sh
export WINEPREFIX="$root/build/win/wineprefix"
rt_start_xvfb || exit 1
trap 'wineserver -k 2>/dev/null; rt_stop_xvfb' EXIT
rt_ensure_prefix
# Keep one server warm for the whole run, with Wine's own services started
# here: a service started by the first test would inherit ctest's output
# pipe and keep ctest waiting for it to close.
wineserver -p 2>/dev/null || true
wine cmd /c exit >/dev/null 2>&1 </dev/null || true

# One ctest over both trees, so one summary covers the whole suite.
cat > build/CTestTestfile.cmake <<'CTEST'
subdirs("native")
subdirs("fuzz")
subdirs("win")
CTEST
ctest --test-dir build --output-on-failure --timeout 600 "$@"

# Sourced by the Wine scripts: the environment every Windows binary runs in.
# The prefix lives inside the build folder; code page 936 through zh_CN.
RT_TOOLS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
# On a host that runs 64-bit user code only, the 32-bit programs run under
# QEMU's emulator (tools/setup.sh): tests then allow their children longer.
if [ -z "${RT_TEST_TIME_SCALE:-}" ] && grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  export RT_TEST_TIME_SCALE=4
fi

# rt_find_build_dir FILE: the nearest folder above FILE holding CMakeCache.txt.
rt_find_build_dir() {
  local d
  d=$(cd "$(dirname "$1")" && pwd)
  while [ "$d" != / ]; do
    [ -f "$d/CMakeCache.txt" ] && { echo "$d"; return; }
    d=$(dirname "$d")
  done
  pwd
}

# rt_ensure_prefix: create the prefix once (serialised between parallel tests).
# Debian's Wine loads its own fonts only from the prefix's Fonts folder,
# never from /usr/share/wine/fonts where fonts-wine puts them; without
# Marlett the frame's caption buttons fall back to a text font and show its
# letters ("0 1 r"). So Marlett is placed there, also in older prefixes.
rt_ensure_prefix() {
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.rt-ready" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      touch "$WINEPREFIX/.rt-ready"
    fi
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
      cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# rt_start_time_service: the local time service on 127.0.0.1:18080 for the
# tool's local build, unless one already listens there; rt_stop_time_service
# stops only a service started here.
rt_start_time_service() {
  if (exec 3<>/dev/tcp/127.0.0.1/18080) 2>/dev/null; then
    echo "using the service already listening on 127.0.0.1:18080"
    return
  fi
  python3 "$(dirname "${BASH_SOURCE[0]}")/timeservice.py" --zone local --port 18080 >/dev/null &
  RT_SERVICE_PID=$!
}
rt_stop_time_service() {
  [ -n "${RT_SERVICE_PID:-}" ] && kill "$RT_SERVICE_PID" 2>/dev/null || true
}

# rt_wine_session BUILD_DIR [CLEANUP]: what every script that runs Windows
# programs sets up once: a private Xvfb unless a usable DISPLAY is set (unset
# it first to insist on a private one), the prefix inside BUILD_DIR (unless
# WINEPREFIX is set already), and on exit CLEANUP (evaluated then) and the
# display stopped.
rt_wine_session() {
  . "$RT_TOOLS/xvfb.sh"
  rt_start_xvfb || return 1
  : "${WINEPREFIX:=$1/wineprefix}"
  export WINEPREFIX
  RT_SESSION_CLEANUP=${2:-:}
  trap 'eval "$RT_SESSION_CLEANUP"; rt_stop_xvfb' EXIT
  rt_ensure_prefix
}

# rt_wait_window TITLE [TENTHS]: waits until a window whose name holds TITLE
# is mapped on the display (default 15 s); false when none comes.
rt_wait_window() {
  local n
  for n in $(seq "${2:-150}"); do
    xwininfo -root -tree 2>/dev/null | grep -a "$1" >/dev/null && return 0
    sleep 0.1
  done
  return 1
}

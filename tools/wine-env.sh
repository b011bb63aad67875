# Sourced by the Wine scripts: the environment every Windows binary runs in.
# The prefix lives inside the build folder; code page 936 through zh_CN.
export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32

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

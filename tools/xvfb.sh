# Sourced: starts a private Xvfb on a free display number when there is no
# usable display, exports DISPLAY and stops it on exit (rt_stop_xvfb).
rt_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return
  fi
  local n
  for n in $(seq 80 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    RT_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
      xdpyinfo >/dev/null 2>&1 && return
      sleep 0.1
    done
  done
  echo "cannot start Xvfb" >&2
  return 1
}
rt_stop_xvfb() {
  [ -n "${RT_XVFB_PID:-}" ] && kill "$RT_XVFB_PID" 2>/dev/null || true
}

# Sourced by test.sh after wine-env.sh: a desktop of the test run's own, on
# which the graph tests use the platform's video and audio renderers. Xvfb
# picks a free display number itself (-displayfd), so runs side by side never
# share one; a PulseAudio server with a null sink runs in a runtime folder of
# its own. kx_desktop_stop ends both by their process ids.
kx_desktop_start() {
  kx_desktop_dir=$(mktemp -d "${TMPDIR:-/tmp}/kx-desktop.XXXXXX")
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$kx_desktop_dir/display" \
    >"$kx_desktop_dir/xvfb.log" 2>&1 </dev/null &
  kx_xvfb_pid=$!
  local tries=0
  until [ -s "$kx_desktop_dir/display" ] || [ $tries -ge 100 ]; do sleep 0.1; tries=$((tries + 1)); done
  if [ ! -s "$kx_desktop_dir/display" ]; then
    echo "desktop: Xvfb did not start (see $kx_desktop_dir/xvfb.log)" >&2
    return 1
  fi
  DISPLAY=:$(head -n1 "$kx_desktop_dir/display")
  KX_DESKTOP_DISPLAY=$DISPLAY
  export DISPLAY KX_DESKTOP_DISPLAY
  export XDG_RUNTIME_DIR="$kx_desktop_dir/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --load="module-null-sink sink_name=null" \
    --load=module-native-protocol-unix >"$kx_desktop_dir/pulse.log" 2>&1 </dev/null &
  kx_pulse_pid=$!
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  tries=0
  until pactl info >/dev/null 2>&1 || [ $tries -ge 100 ]; do sleep 0.1; tries=$((tries + 1)); done
  if ! pactl info >/dev/null 2>&1; then
    echo "desktop: PulseAudio did not start (see $kx_desktop_dir/pulse.log)" >&2
    return 1
  fi
  echo "desktop: display $DISPLAY, sound into a null sink ($PULSE_SERVER)"
}

kx_desktop_stop() {
  local pid
  for pid in ${kx_pulse_pid:-} ${kx_xvfb_pid:-}; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  kx_pulse_pid="" kx_xvfb_pid=""
  unset KX_DESKTOP_DISPLAY
  [ -n "${kx_desktop_dir:-}" ] && rm -rf "$kx_desktop_dir"
  return 0
}

# Sourced by the other scripts: the build folder's private Wine prefix.
# KX_BUILD_DIR names the build folder (default: build beside the sources).
kx_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$kx_root/build}"
export KX_BUILD_DIR
export WINEPREFIX="$KX_BUILD_DIR/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installers: the prefix never needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Makes the prefix on first use; safe to call from several processes at once.
kx_wine_prefix() {
  mkdir -p "$KX_BUILD_DIR"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kx-ready" ]; then
      rm -rf "$WINEPREFIX"
      wineboot -i >/dev/null 2>&1
      # Hidden message windows need a display driver; the null driver gives one
      # without X. No audio driver: tests and benchmarks make no sound.
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
      wineserver -w
      touch "$WINEPREFIX/.kx-ready"
    fi
  ) 9>"$KX_BUILD_DIR/.wineprefix.lock"
}

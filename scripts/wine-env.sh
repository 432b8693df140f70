# Sourced by the other scripts: the build folder's private Wine prefix.
# KX_BUILD_DIR names the build folder (default: build beside the sources).
# The prefix has the build's width (the wine-arch file CMake writes): a
# win32 prefix for the 32-bit build, a win64 one, in which 32-bit programs
# such as the module's helper run beside the 64-bit ones, for the 64-bit build.
kx_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$kx_root/build}"
export KX_BUILD_DIR
export WINEPREFIX="$KX_BUILD_DIR/wineprefix"
WINEARCH=win32
if [ -f "$KX_BUILD_DIR/wine-arch" ]; then WINEARCH=$(cat "$KX_BUILD_DIR/wine-arch"); fi
export WINEARCH
export WINEDEBUG=-all
# No Mono or Gecko installers: the prefix never needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Programs see a display only on the test run's desktop (scripts/desktop.sh).
unset DISPLAY WAYLAND_DISPLAY
if [ -n "${KX_DESKTOP_DISPLAY:-}" ]; then export DISPLAY=$KX_DESKTOP_DISPLAY; fi
# PulseAudio is reached only where PULSE_SERVER names one (scripts/desktop.sh);
# a client never starts a server of its own.
mkdir -p "$KX_BUILD_DIR"
printf 'autospawn = no\n' >"$KX_BUILD_DIR/pulse-client.conf"
export PULSE_CLIENTCONFIG="$KX_BUILD_DIR/pulse-client.conf"

# Makes the prefix on first use; safe to call from several processes at once.
kx_wine_prefix() {
  mkdir -p "$KX_BUILD_DIR"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kx-ready" ]; then
      rm -rf "$WINEPREFIX"
      if [ "$WINEARCH" = win64 ]; then
        /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 9>&-
      else
        wineboot -i </dev/null >/dev/null 2>&1 9>&-
      fi
      touch "$WINEPREFIX/.kx-ready"
    fi
    # The X11 driver where a display is set (the desktop of scripts/desktop.sh,
    # on which the video renderers draw), else the null driver, which still
    # gives the hidden message windows; sound through PulseAudio, which only
    # the desktop provides (elsewhere no sound device is found).
    if [ ! -f "$WINEPREFIX/.kx-drivers" ]; then
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f </dev/null >/dev/null 2>&1 9>&-
      wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f </dev/null >/dev/null 2>&1 9>&-
      wineserver -w 9>&-
      touch "$WINEPREFIX/.kx-drivers"
    fi
    # Keep one wineserver for the whole run, and start Wine's own services
    # with their output detached: a service that inherited a test's output pipe
    # would keep ctest waiting after the test had ended.
    if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
      wine wineboot </dev/null >/dev/null 2>&1 9>&-
    fi
  ) 9>"$KX_BUILD_DIR/.wineprefix.lock"
}

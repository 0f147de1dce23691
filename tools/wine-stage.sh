#!/usr/bin/env bash
# The Windows build, tested under Wine:
#   tools/wine-stage.sh LINUX_BUILD
# cross-builds the core, the Win32 backend, lumo-download.exe and the tests
# that need no pseudo-terminal inside the program (build/win), runs those tests
# under Wine, then runs the Linux-side tests of LINUX_BUILD labelled "wine":
# the Win32 backend against a pseudo-terminal peer, lumo-download.exe
# against the simulated unit, and the window (Lumo_DownloadTool.exe) read by
# win-window-probe; last, the Windows installer, installed and uninstalled
# (tools/wine-installer-test.sh).
#
# Wine serves COM5 to COM8 from links in build/win/com; the entries are
# written into the prefix before the server that the tests use starts. The
# server runs in the foreground-persistent mode for the whole stage and is
# ended at its end: a server that programs start on their own hangs on to
# their inherited output and floods it with diagnostics when a terminal closes.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
LINUX_BUILD=${1:?usage: tools/wine-stage.sh LINUX_BUILD}
WIN_BUILD=$ROOT/build/win
JOBS=$(nproc)

# The preset "windows" (CMakePresets.json) is build/win with the mingw-w64 toolchain file.
(cd "$ROOT" && cmake --preset windows >/dev/null)
cmake --build "$WIN_BUILD" -j "$JOBS"
cmake --build "$WIN_BUILD" --target windows_installer

export WINEPREFIX=$WIN_BUILD/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or HTML engine installers in a fresh prefix
export LUMO_WINE=/usr/lib/wine/wine64
export LUMO_WINDOWS_BIN=$WIN_BUILD/bin
export LUMO_WINE_COM_DIR=$WIN_BUILD/com
mkdir -p "$LUMO_WINE_COM_DIR"

# The window's tests need a display for Wine to make windows on; without one,
# a virtual X server serves the stage (Wine's desktop takes the display the
# server's first program had, so it is there from the start).
xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  [ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(head -n1 "$display_file")
  rm -f "$display_file"
fi

server_pid=
desktop_pid=
start_server() {
  wineserver -f -p >/dev/null 2>&1 &
  server_pid=$!
  # The first program after a start makes the prefix (once) and warms the server.
  timeout 300 "$LUMO_WINE" cmd /c exit >/dev/null 2>&1 </dev/null || true
  # Wine's desktop process, started by the first program that makes a window,
  # keeps that program's output open, and ends a moment after its last user:
  # held from here to the server's end, it holds /dev/null, not a test's pipe.
  desktop_file=$(mktemp)
  timeout 3600 "$LUMO_WINE" "$WIN_BUILD/bin/win-window-probe.exe" desktop >"$desktop_file" 2>/dev/null </dev/null &
  desktop_pid=$!
  for _ in $(seq 300); do grep -q DESKTOP "$desktop_file" && break; sleep 0.1; done
  rm -f "$desktop_file"
}
stop_server() {
  [ -n "$server_pid" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  wait "$server_pid" 2>/dev/null || true
  [ -z "$desktop_pid" ] || wait "$desktop_pid" 2>/dev/null || true
  desktop_pid=
  server_pid=
}
stop_display() {
  [ -n "$xvfb_pid" ] || return 0
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap 'stop_server; stop_display' EXIT

start_server
for n in 5 6 7 8; do
  "$LUMO_WINE" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$LUMO_WINE_COM_DIR/COM$n" /f >/dev/null 2>&1
done
stop_server
start_server

rc=0
echo "== Windows build under Wine: unit tests"
ctest --test-dir "$WIN_BUILD" --output-on-failure -j "$JOBS" || rc=1
echo "== Windows build under Wine: the Win32 backend, lumo-download.exe and the window from the Linux side"
ctest --test-dir "$LINUX_BUILD" --output-on-failure -L wine || rc=1
echo "== The Windows installer under Wine: silent install, the installed programs, silent uninstall"
"$ROOT/tools/wine-installer-test.sh" "$WIN_BUILD" || rc=1
exit $rc

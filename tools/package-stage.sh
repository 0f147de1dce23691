#!/usr/bin/env bash
# The Debian package as a user gets it: ./run package's .deb installed on this
# machine (as root, or with sudo), used from the installed paths, removed.
#   tools/package-stage.sh DEB
# Checks: lintian reports no error; the three programs are on PATH and print
# the project's version; the window starts offscreen from /usr/bin and keeps
# running, and on a virtual display its status box reads "Ready" (read back
# from a picture of the window by OCR); lumo-download loads all three sample images into lumo-unit-sim, and
# the unit's memories equal the images; the desktop entry and the AppStream
# file validate; the man pages render without warnings; purging the package
# leaves none of its files behind.
set -euo pipefail
DEB=$(realpath "${1:?usage: tools/package-stage.sh DEB}")  # apt takes a path, not a name
ROOT=$(cd "$(dirname "$0")/.." && pwd)
VERSION=$(sed -n 's/^project(Lumo_DownloadTool VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
PKG=lumo-downloadtool
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
# shellcheck source=tools/unit-helpers.sh
source "$ROOT/tools/unit-helpers.sh"
WORK=$(mktemp -d /tmp/lumo-package-XXXXXX)
XVFB_PID=
cleanup() {
  if [ -n "$UNIT_PID" ]; then kill "$UNIT_PID" 2>/dev/null || true; fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "package: $*" >&2; exit 1; }

echo "-- lintian"
lintian --fail-on error "$DEB" || fail "lintian reports errors"

echo "-- install"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$DEB" >/dev/null
mapfile -t FILES < <(dpkg -L "$PKG" | while read -r f; do [ -f "$f" ] && echo "$f"; done)

echo "-- on PATH, with the project's version"
for program in Lumo_DownloadTool lumo-download lumo-unit-sim; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
done
[ "$(lumo-download --version)" = "lumo-download $VERSION" ] || fail "lumo-download --version"
[ "$(lumo-unit-sim --version)" = "lumo-unit-sim $VERSION" ] || fail "lumo-unit-sim --version"

echo "-- the window starts from the installed path"
set +e
(cd "$WORK" && XDG_CONFIG_HOME=$WORK/config QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/Lumo_DownloadTool \
  >"$WORK/window.log" 2>&1)
rc=$?
set -e
[ $rc -eq 124 ] || { cat "$WORK/window.log" >&2; fail "the window ended by itself (status $rc)"; }
[ ! -e "$WORK/config" ] || fail "the window's first start created $WORK/config"

echo "-- the installed window shows \"Ready\""
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$WORK/display" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
DISPLAY=:$(cat "$WORK/display")
export DISPLAY
# On the display, whatever platform the caller chose for its own tests.
QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$WORK/config timeout 60 /usr/bin/Lumo_DownloadTool >"$WORK/window.log" 2>&1 &
WINDOW_PID=$!
READ=""
for _ in $(seq 30); do
  sleep 1
  # awk reads to the end: an early exit could end xwininfo with SIGPIPE (pipefail).
  id=$(xwininfo -root -tree | awk '/\("Lumo_DownloadTool" "Lumo_DownloadTool"\)/ && !id {id = $1} END {print id}')
  [ -n "$id" ] || continue
  # The status box sits where the window's layout puts it; its grey text is
  # enlarged and stretched to full contrast for the OCR.
  xwd -id "$id" -silent >"$WORK/window.xwd" || continue
  /usr/bin/convert "xwd:$WORK/window.xwd" -crop 180x22+21+234 -colorspace Gray -resize 400% -normalize "$WORK/status.png"
  READ=$(tesseract "$WORK/status.png" - --psm 7 2>/dev/null | tr -d '[:space:]')
  [ "$READ" = "Ready" ] && break
done
kill "$WINDOW_PID" 2>/dev/null || true
wait "$WINDOW_PID" 2>/dev/null || true
kill "$XVFB_PID" 2>/dev/null || true
XVFB_PID=
unset DISPLAY
[ "$READ" = "Ready" ] || fail "the window's status box reads \"$READ\", not \"Ready\""

echo "-- lumo-download loads all three images into lumo-unit-sim"
mkdir -p "$WORK/com" "$WORK/images" "$WORK/unit"
lumo-unit-sim --write-samples "$WORK/images"
unit_start lumo-unit-sim "$WORK/com" 9 "$WORK/unit" "$WORK/unit.log" 10 || fail "lumo-unit-sim made no COM9"
LUMO_COMPORT_DIR=$WORK/com XDG_CONFIG_HOME=$WORK/config timeout 300 lumo-download --port COM9 \
  --dsp "$WORK/images/dsp.bin" --cm "$WORK/images/camera-board.bin" --motor "$WORK/images/control-board.bin" \
  || fail "lumo-download failed"
unit_stop
unit_dsp_body lumo-unit-sim "$WORK/images/dsp.bin" "$WORK/dsp-body.bin"
# Each part's verdict line is said only when it is not "equals the image".
check_part() {  # name image memory what
  local line
  line=$(unit_verdict "$1" "$2" "$3") || { echo "$line" >&2; fail "$4"; }
}
check_part "DSP" "$WORK/dsp-body.bin" "$WORK/unit/dsp.bin" "DSP memory"
check_part "Camera board" "$WORK/images/camera-board.bin" "$WORK/unit/camera-board.bin" "camera board flash"
check_part "Control board" "$WORK/images/control-board.bin" "$WORK/unit/control-board.bin" "control board flash"

echo "-- desktop entry, AppStream metadata, man pages"
for f in "${FILES[@]}"; do
  case "$f" in
    /usr/share/applications/*.desktop) desktop-file-validate "$f" || fail "desktop entry $f" ;;
    /usr/share/metainfo/*.metainfo.xml) appstreamcli validate --no-net "$f" || fail "AppStream metadata $f" ;;
  esac
done
for page in lumo-download lumo-unit-sim Lumo_DownloadTool; do
  warnings=$(MANWIDTH=80 man --warnings -l "/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $page: $warnings"
done

echo "-- purge"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq "$PKG" >/dev/null
for f in "${FILES[@]}"; do
  [ ! -e "$f" ] || fail "$f is left after the purge"
done
echo "-- the package passed (${#FILES[@]} files installed and removed)"

#!/usr/bin/env bash
# Tries the tool without hardware: the simulated unit on a COM folder, sample
# images, the tool pointed at both. When the tool exits, says whether the
# unit's memories equal the images.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BIN=$ROOT/build/bin
WORK=$ROOT/build/tryout
COM_NUMBER=3
INI=$BIN/SavePath/Save.ini
# shellcheck source=tools/unit-helpers.sh
source "$ROOT/tools/unit-helpers.sh"

rm -rf "$WORK"
mkdir -p "$WORK/com" "$WORK/images" "$WORK/unit"
"$BIN/lumo-unit-sim" --write-samples "$WORK/images"

# The first value of the key, without carriage returns. sed stops at it by
# itself: a "| head" here would end sed with SIGPIPE now and then (pipefail).
ini_value() {  # key
  [ -f "$INI" ] || return 0
  sed -n -e "s/^[[:space:]]*$1[[:space:]]*=[[:space:]]*//" -e T -e 's/\r//g' -e p -e q "$INI"
}

# Point the saved paths at the samples unless the user has chosen images.
if [ -z "$(ini_value DSP_PTAH)$(ini_value CM_PTAH)$(ini_value Motor_PTAH)" ]; then
  mkdir -p "$BIN/SavePath"
  printf '[FILE_PATH]\nDSP_PTAH=%s\nCM_PTAH=%s\nMotor_PTAH=%s\n' \
    "$WORK/images/dsp.bin" "$WORK/images/camera-board.bin" "$WORK/images/control-board.bin" >"$INI"
  echo "Saved paths point at the sample images in $WORK/images"
fi

trap 'kill $UNIT_PID 2>/dev/null || true' EXIT
unit_start "$BIN/lumo-unit-sim" "$WORK/com" "$COM_NUMBER" "$WORK/unit" "$WORK/unit.log" 5 || true
echo "Simulated unit on COM$COM_NUMBER ($(cat "$WORK/unit.log"))"

TOOL=("$BIN/Lumo_DownloadTool")
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: the tool runs under Xvfb (xvfb-run); close it with Ctrl+C"
  TOOL=(xvfb-run -a "${TOOL[@]}")
fi
LUMO_COMPORT_DIR="$WORK/com" "${TOOL[@]}" || true

unit_stop
trap - EXIT

# What the unit holds, against the images the saved paths name.
unit_dsp_body "$BIN/lumo-unit-sim" "$(ini_value DSP_PTAH)" "$WORK/dsp-body.bin"
unit_verdict "DSP" "$WORK/dsp-body.bin" "$WORK/unit/dsp.bin" || true
unit_verdict "Camera board" "$(ini_value CM_PTAH)" "$WORK/unit/camera-board.bin" || true
unit_verdict "Control board" "$(ini_value Motor_PTAH)" "$WORK/unit/control-board.bin" || true
echo "The unit's memories and its wire record are in $WORK/unit"

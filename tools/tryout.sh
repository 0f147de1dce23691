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

"$BIN/lumo-unit-sim" --com-dir "$WORK/com" --com-number "$COM_NUMBER" --dump "$WORK/unit" \
  >"$WORK/unit.log" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -e "$WORK/com/COM$COM_NUMBER" ] && break
  sleep 0.05
done
echo "Simulated unit on COM$COM_NUMBER ($(cat "$WORK/unit.log"))"

TOOL=("$BIN/Lumo_DownloadTool")
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: the tool runs under Xvfb (xvfb-run); close it with Ctrl+C"
  TOOL=(xvfb-run -a "${TOOL[@]}")
fi
LUMO_COMPORT_DIR="$WORK/com" "${TOOL[@]}" || true

kill -TERM "$SIM" 2>/dev/null || true
wait "$SIM" 2>/dev/null || true
trap - EXIT

# What the unit holds, against the images the saved paths name.
verdict() {  # name image memory
  local name=$1 image=$2 memory=$3
  if [ ! -s "$memory" ] || [ "$(tr -d '\377' <"$memory" | wc -c)" -eq 0 ]; then
    echo "$name: not loaded"
  elif [ -f "$image" ] && cmp -s "$image" "$memory"; then
    echo "$name: equals the image"
  else
    echo "$name: DIFFERS from the image ($image)"
  fi
}
dsp=$(ini_value DSP_PTAH)
read -r dsp_header dsp_body < <("$BIN/lumo-unit-sim" --dsp-layout)
if [ -f "$dsp" ]; then
  # Not "tail | head": head ends after the body, and tail, still writing what
  # follows it, dies of SIGPIPE now and then, which pipefail made the script's end.
  dd if="$dsp" of="$WORK/dsp-body.bin" iflag=skip_bytes,count_bytes skip="$dsp_header" count="$dsp_body" \
    bs=64K status=none
else
  : >"$WORK/dsp-body.bin"
fi
verdict "DSP" "$WORK/dsp-body.bin" "$WORK/unit/dsp.bin"
verdict "Camera board" "$(ini_value CM_PTAH)" "$WORK/unit/camera-board.bin"
verdict "Control board" "$(ini_value Motor_PTAH)" "$WORK/unit/control-board.bin"
echo "The unit's memories and its wire record are in $WORK/unit"

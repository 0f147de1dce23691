# shellcheck shell=bash
# Shell helpers for a script that loads images into the simulated unit and
# then checks what the unit holds (tools/tryout.sh, tools/package-stage.sh).
# Sourced, not run; the caller has set -euo pipefail.
#
#   unit_start SIM COM_DIR NUMBER DUMP_DIR LOG SECONDS
#       starts SIM (a lumo-unit-sim) in the background as COM_DIR/COM<NUMBER>,
#       its output in LOG; it writes its memories into DUMP_DIR when it ends.
#       Sets UNIT_PID, then waits at most SECONDS for the COM link to appear;
#       fails when it has not.
#   unit_stop
#       ends the unit started last (SIGTERM) and waits until it has written
#       its memories; does nothing when none runs.
#   unit_dsp_body SIM IMAGE OUT
#       writes into OUT the part of the DSP image IMAGE that lands in the DSP's
#       memory (the body after the header, as SIM --dsp-layout gives them);
#       OUT is empty when IMAGE is no file.
#   unit_verdict NAME IMAGE MEMORY
#       prints whether the unit's memory dump MEMORY holds IMAGE:
#       "NAME: equals the image", "NAME: not loaded" (nothing or only erased
#       bytes) or "NAME: DIFFERS from the image (IMAGE)"; succeeds only for the
#       first.
#
# No pipeline here ends early (no head, no awk exit): under pipefail a writer
# that a finished reader leaves behind dies of SIGPIPE, now and then, under load.

UNIT_PID=

unit_start() {
  local sim=$1 com_dir=$2 number=$3 dump=$4 log=$5 seconds=$6
  "$sim" --com-dir "$com_dir" --com-number "$number" --dump "$dump" >"$log" 2>&1 &
  UNIT_PID=$!
  local link=$com_dir/COM$number tries=$((seconds * 20)) i
  for ((i = 0; i < tries; i++)); do
    [ -e "$link" ] && return 0
    sleep 0.05
  done
  [ -e "$link" ]
}

unit_stop() {
  [ -n "$UNIT_PID" ] || return 0
  kill -TERM "$UNIT_PID" 2>/dev/null || true
  wait "$UNIT_PID" 2>/dev/null || true
  UNIT_PID=
}

unit_dsp_body() {
  local sim=$1 image=$2 out=$3 header body
  read -r header body < <("$sim" --dsp-layout)
  if [ -f "$image" ]; then
    dd if="$image" of="$out" iflag=skip_bytes,count_bytes skip="$header" count="$body" bs=64K status=none
  else
    : >"$out"
  fi
}

unit_verdict() {
  local name=$1 image=$2 memory=$3
  # A memory that holds nothing but erased bytes (0xFF) was never written.
  if [ ! -s "$memory" ] || [ "$(tr -d '\377' <"$memory" | wc -c)" -eq 0 ]; then
    echo "$name: not loaded"
    return 1
  elif [ -f "$image" ] && cmp -s "$image" "$memory"; then
    echo "$name: equals the image"
  else
    echo "$name: DIFFERS from the image ($image)"
    return 1
  fi
}

#!/usr/bin/env bash
# Starts the tool as ./run does. For now the tool alone: it lists the serial
# ports of this machine (or of LUMO_COMPORT_DIR when set).
set -euo pipefail
cd "$(dirname "$0")/.."
exec build/bin/Lumo_DownloadTool

#!/usr/bin/env bash
# Installs what is missing, builds, and runs Quorlin's main job: the desktop program when a
# display is there; without one, the bundled Access example computed headlessly (forecasting
# December's sea-surface temperature in table ElNino from the other months by stepwise
# regression).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/ui/quorlin
fi
echo "No display: computing the bundled example with the batch command."
build/batch/quorlin-batch compute examples/example.mdb --table ElNino --y DEC

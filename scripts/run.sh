#!/usr/bin/env bash
# Installs what is missing, builds, and runs Quorlin's main job: the bundled Access example,
# forecasting December's sea-surface temperature (ElNino table) from the other months by
# stepwise regression.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build/batch/quorlin-batch compute examples/example.mdb --table ElNino --y DEC

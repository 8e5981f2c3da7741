#!/usr/bin/env bash
# Installs what is missing, builds, and runs Quorlin's main job: the bundled El Nino example,
# forecasting December's sea-surface temperature from the other months by stepwise regression.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build/batch/quorlin-batch compute examples/elnino.csv --y DEC

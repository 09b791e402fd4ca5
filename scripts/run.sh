#!/usr/bin/env bash
# Builds and starts the program. Needs a display; on a headless machine run it under xvfb-run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec ./build/app/zembra "$@"

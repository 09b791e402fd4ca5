#!/usr/bin/env bash
# Builds and runs every test. Window tests run offscreen; browser tests start their own Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh -DZEMBRA_WERROR=ON  # CI builds treat warnings as errors
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 900
cd ..
# The core alone, without the window: builds, passes its tests and touches no Qt.
bash scripts/core_only.sh
# The suite again under the address, undefined-behaviour and thread sanitizers, and every fuzz
# target for 30 s (each in its own build folder; the log ends with the execs per target).
bash scripts/check.sh
# The Debian package: built, linted, installed for real, started, closed and removed (needs root).
if [ "$(id -u)" -eq 0 ]; then
    bash scripts/install_check.sh
else
    echo "not root: the package install check is skipped"
fi

#!/usr/bin/env bash
# Sets everything up and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
bash tools/setup.sh
ctest --test-dir "${STOWLINE_BUILD_DIR:-build}" --output-on-failure -j "$(nproc)"

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite through CTest.
# Extra arguments go to ctest (for example -L threaded).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd "${QUIMBEL_BUILD_DIR:-build}"
ctest --output-on-failure -j "$(nproc)" "$@"

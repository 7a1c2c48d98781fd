#!/usr/bin/env bash
# Sets up, builds and starts Quimbel. Arguments go to the program. On a
# machine without a display the program says so and points to quimbel-cli
# (try: build/cli/quimbel-cli --recurse samples/site, or
# bash samples/check-samples.sh build/cli/quimbel-cli).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
exec build/app/quimbel "$@"

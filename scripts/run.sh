#!/usr/bin/env bash
# Sets up, builds and starts Quimbel. Arguments go to the program; without
# any, it checks the bundled sample pages against a local test server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ $# -gt 0 ]; then
  exec build/cli/quimbel-cli "$@"
fi
exec bash samples/check-samples.sh build/cli/quimbel-cli

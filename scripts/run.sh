#!/usr/bin/env bash
# Builds Tarnwick and starts it; arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target tarnwick
exec build/dev/app/tarnwick "$@"

#!/usr/bin/env bash
# Builds the training program and starts it: the real ZOLVEX screens against a
# simulated sensor. Options are passed on (see --help).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZOLVEX_BUILD_DIR:-$root/build}"

bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target zolvex-training
exec "$build/training/zolvex-training" "$@"

#!/usr/bin/env bash
# Retakes docs/*.png from a real training run on a virtual X display (about
# two and a half minutes: the screens run on their own timers).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZOLVEX_BUILD_DIR:-$root/build}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target zolvex-screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1024x768x24' \
    "$build/training/zolvex-screenshots" "$root/docs"

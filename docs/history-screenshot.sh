#!/usr/bin/env bash
# Retakes docs/history-window.png: zolvex-history on a sample history (36
# sensors, about 280 runs) on a virtual X display, one sensor picked by typing
# its serial number into the filter. Needs xdotool and ImageMagick's import
# (apt-get install xdotool imagemagick) besides what scripts/deps.sh installs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZOLVEX_BUILD_DIR:-$root/build}"
sensor=40317-20556 # one that drifted out of its window and was recalibrated

if [ "${1:-}" = --inside ]; then
    work=$2
    export ZOLVEX_HISTORY_DATABASE="sqlite:$work/history.sqlite"
    export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
    "$build/app/zolvex-history" &
    pid=$!
    window=$(xdotool search --sync --onlyvisible --pid "$pid" | head -1)
    sleep 2
    # Typed through XTEST into the focused window (sent events are ignored).
    xdotool windowfocus --sync "$window"
    xdotool key ctrl+f
    xdotool type --delay 50 "$sensor"
    xdotool key Return
    sleep 0.5
    xdotool key ctrl+f BackSpace
    sleep 1
    import -window "$window" "$root/docs/history-window.png"
    kill "$pid"
    exit 0
fi

command -v xdotool >/dev/null && command -v import >/dev/null ||
    { echo "needs xdotool and ImageMagick (apt-get install xdotool imagemagick)" >&2; exit 1; }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target zolvex-history zolvex-history-sample
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/gui/history/zolvex-history-sample" "$work/history.sqlite" 36 8 7
QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1280x900x24' bash "$0" --inside "$work"
echo "wrote $root/docs/history-window.png"

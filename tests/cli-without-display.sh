#!/usr/bin/env bash
# --help and --version of both programs print their text and succeed without
# any display to connect to.
set -euo pipefail
zolvex="$1"
training="$2"
version="$3"

run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" 2>&1; }
fail() { echo "FAIL: $*"; exit 1; }

for program in "$zolvex" "$training"; do
    name=$(basename "$program")
    help=$(run "$program" --help) || fail "$name --help exited with $?: $help"
    grep -q "^Usage: .*$name" <<<"$help" || fail "$name --help: no usage line: $help"
    grep -q -- "--version" <<<"$help" || fail "$name --help lists no --version: $help"
    out=$(run "$program" --version) || fail "$name --version exited with $?: $out"
    [ "$out" = "$name $version" ] || fail "$name --version printed '$out'"
done
grep -q -- "--model" <<<"$(run "$training" -h)" || fail "zolvex-training -h lists no --model"
echo "PASS: --help and --version without a display"

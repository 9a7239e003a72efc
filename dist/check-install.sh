#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks that the programs, their
# desktop entries and their icons are where a desktop looks for them.
# Usage: check-install.sh CMAKE BUILD_DIR BINDIR DATADIR
set -euo pipefail
cmake_cmd=$1
build=$2
bindir=$3
datadir=$4

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake_cmd" --install "$build" --prefix "$prefix" >/dev/null

status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

for program in zolvex zolvex-training zolvex-history; do
    [ -x "$prefix/$bindir/$program" ] || fail "$bindir/$program missing or not executable"

    desktop="$prefix/$datadir/applications/$program.desktop"
    if [ ! -f "$desktop" ]; then
        fail "$datadir/applications/$program.desktop missing"
        continue
    fi
    # The entry must start the installed program and name the installed icon.
    exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -x "$prefix/$bindir/$exec_cmd" ] || fail "$program.desktop: Exec=$exec_cmd is not installed"
    svg="$prefix/$datadir/icons/hicolor/scalable/apps/$icon.svg"
    if [ ! -f "$svg" ]; then
        fail "$program.desktop: Icon=$icon has no installed icon"
    elif ! grep -q '<svg' "$svg"; then
        fail "$icon.svg is not an SVG image"
    fi
    grep -qx 'Type=Application' "$desktop" || fail "$program.desktop: not Type=Application"
    grep -qx 'Terminal=false' "$desktop" || fail "$program.desktop: not Terminal=false"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "$program.desktop does not validate"
    else
        echo "desktop-file-validate not found (desktop-file-utils); entries not validated"
    fi
done

[ $status -eq 0 ] && echo "programs, desktop entries and icons installed where expected"
exit $status

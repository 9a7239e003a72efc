#!/usr/bin/env bash
# Checks the Debian package that `cpack -G DEB` made in a build directory:
# lintian finds no error, the control fields and file list are what an
# installation needs, and the programs run from a throwaway root.
# Usage: check-deb.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: check-deb.sh BUILD_DIR}" && pwd)

# The version the project was configured with, not the one the package claims.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "FAIL: no project version in $build/CMakeCache.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
deb="$build/zolvex_${version}_${arch}.deb"
[ -f "$deb" ] || { echo "FAIL: $deb not found (run cpack -G DEB in $build)" >&2; exit 1; }
echo "checking $(basename "$deb")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

# lintian: warnings are shown, errors fail. Its exit status also catches a
# lintian that could not run at all.
lintian_rc=0
lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$work/lintian.txt" || true
errors=$(grep -c '^E: ' "$work/lintian.txt" || true)
warnings=$(grep -c '^W: ' "$work/lintian.txt" || true)
echo "lintian: $errors error(s), $warnings warning(s)"
[ "$errors" -eq 0 ] || fail "lintian reports errors"
[ "$lintian_rc" -eq 0 ] || fail "lintian exited with status $lintian_rc"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zolvex ] || fail "Package is '$(field Package)', not zolvex"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
depends=$(field Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6serialport6 libqt6charts6 libqt6sql6 libqt6sql6-sqlite; do
    grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends does not name $lib"
done

# The package's files, with owners and modes.
dpkg-deb -c "$deb" >"$work/contents.txt"
files=$(awk '{print $NF}' "$work/contents.txt" | sed 's|^\./|/|; s|/$||')
expected=(
    /usr/bin/zolvex
    /usr/bin/zolvex-training
    /usr/bin/zolvex-history
    /usr/share/applications/zolvex.desktop
    /usr/share/applications/zolvex-training.desktop
    /usr/share/applications/zolvex-history.desktop
    /usr/share/icons/hicolor/scalable/apps/zolvex.svg
    /usr/share/icons/hicolor/scalable/apps/zolvex-training.svg
    /usr/share/icons/hicolor/scalable/apps/zolvex-history.svg
    /usr/share/man/man1/zolvex.1.gz
    /usr/share/man/man1/zolvex-training.1.gz
    /usr/share/man/man1/zolvex-history.1.gz
    /usr/share/doc/zolvex/copyright
    /usr/share/doc/zolvex/changelog.gz
    /usr/share/doc/zolvex/README.md.gz
)
for f in "${expected[@]}"; do
    grep -qx "$f" <<<"$files" || fail "$f is not in the package"
done
# Only what is expected (and the root, which dpkg-deb -b lists): no static
# library, header or CMake file of the build.
while read -r f; do
    case "$f" in
    "" | /usr | /usr/bin | /usr/share | /usr/share/applications | /usr/share/doc | /usr/share/doc/zolvex | \
        /usr/share/icons | /usr/share/icons/hicolor | /usr/share/icons/hicolor/scalable | \
        /usr/share/icons/hicolor/scalable/apps | /usr/share/man | /usr/share/man/man1) ;;
    *) printf '%s\n' "${expected[@]}" | grep -qx "$f" || fail "unexpected file in the package: $f" ;;
    esac
done <<<"$files"
while read -r mode owner _ _ _ path; do
    [ "$owner" = root/root ] || fail "$path is owned by $owner"
    case "$mode:$path" in
    d*) [ "$mode" = drwxr-xr-x ] || fail "directory $path has mode $mode" ;;
    *:./usr/bin/*) [ "$mode" = -rwxr-xr-x ] || fail "program $path has mode $mode" ;;
    *) [ "$mode" = -rw-r--r-- ] || fail "file $path has mode $mode" ;;
    esac
done <"$work/contents.txt"

# Install into a throwaway root, laid out as a package build tree
# (debian/zolvex with its DEBIAN control files) for dpkg-shlibdeps below.
root="$work/debian/zolvex"
mkdir -p "$root"
dpkg -x "$deb" "$root"
dpkg-deb -e "$deb" "$root/DEBIAN"

# md5sums must list every file, each with its right sum.
if [ -f "$root/DEBIAN/md5sums" ]; then
    (cd "$root" && md5sum --quiet -c DEBIAN/md5sums) || fail "md5sums do not match the files"
    listed=$(awk '{print "/" $2}' "$root/DEBIAN/md5sums" | sort)
    present=$(cd "$root" && find . -path ./DEBIAN -prune -o -type f -print | sed 's|^\.||' | sort)
    [ "$listed" = "$present" ] || fail "md5sums does not list exactly the package's files"
else
    fail "the package has no md5sums"
fi

# The programs start from the extracted root, with no display, and say their version.
for program in zolvex zolvex-training zolvex-history; do
    bin="$root/usr/bin/$program"
    [ -x "$bin" ] || continue
    file -b "$bin" | grep -q ', stripped' || fail "$program is not stripped"
    ! readelf -d "$bin" | grep -Eq 'RPATH|RUNPATH' || fail "$program has an RPATH or RUNPATH"
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin" --version 2>&1) ||
        fail "$program --version exited with status $?"
    [ "$out" = "$program $version" ] || fail "$program --version printed '$out', not '$program $version'"
    echo "$program --version: $out"

    # The desktop entry starts a packaged program and names a packaged icon.
    desktop="$root/usr/share/applications/$program.desktop"
    [ -f "$desktop" ] || continue
    exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -x "$root/usr/bin/$exec_cmd" ] || fail "$program.desktop: Exec=$exec_cmd is not in /usr/bin"
    [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
        fail "$program.desktop: Icon=$icon has no icon in the package"
done

# Depends must be what dpkg-shlibdeps computes from the packaged programs now
# (nothing missing, nothing stale) and the database drivers.
touch "$work/debian/control"
computed=$(cd "$work" && dpkg-shlibdeps -O -e debian/zolvex/usr/bin/zolvex \
    -e debian/zolvex/usr/bin/zolvex-training -e debian/zolvex/usr/bin/zolvex-history \
    2>"$work/shlibdeps.err" | sed -n 's/^shlibs:Depends=//p')
# It warns that the binaries are not in a package build tree even when they are.
grep -v "should already be installed in their package's directory" "$work/shlibdeps.err" >&2 || true
[ -n "$computed" ] || fail "dpkg-shlibdeps computed nothing"
# Plus the database driver plugins, which no program links.
plugins="libqt6sql6-sqlite"
[ "$depends" = "$plugins, $computed" ] ||
    fail "Depends is not '$plugins' and what dpkg-shlibdeps computes: '$computed'"
[ "$(field Recommends)" = libqt6sql6-psql ] || fail "Recommends is '$(field Recommends)', not libqt6sql6-psql"
# Only the history window draws charts: the product itself stays without Qt Charts.
if [ -x "$root/usr/bin/zolvex" ] && readelf -d "$root/usr/bin/zolvex" | grep -q 'NEEDED.*libQt6Charts'; then
    fail "zolvex links Qt Charts"
fi

# The changelog's latest entry is this version.
changelog_version=$(zcat "$root/usr/share/doc/zolvex/changelog.gz" | sed -n '1s/^zolvex (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] ||
    fail "changelog.gz starts with version '$changelog_version', not $version"

# The README the programs' messages point to is the project's own.
readme=$(zcat "$root/usr/share/doc/zolvex/README.md.gz" 2>/dev/null || true)
grep -qx '## Using a real sensor' <<<"$readme" || fail "README.md.gz is not the project's README"

[ $status -eq 0 ] && echo "package checked: lintian, control fields, files, md5sums, programs"
exit $status

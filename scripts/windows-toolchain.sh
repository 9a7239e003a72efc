#!/usr/bin/env bash
# Builds, once, what cross-building ZOLVEX for 64-bit Windows needs: OpenSSL,
# the PostgreSQL client library libpq, SQLite and Qt 6.4.2 (qtbase, then
# qtserialport, qtsvg, qtcharts) for x86_64-w64-mingw32 with the MinGW-w64
# POSIX-thread compilers, all from Debian's own source packages and with
# Debian's own Qt 6.4.2 as the host Qt. See docs/windows-toolchain.md.
#
# The result lives outside the repository in
#   ${ZOLVEX_WINDOWS_CACHE:-/var/cache/zolvex-windows}/<key>
# where <key> is a short hash of this script, its patches and the source
# versions below. A run with that folder in place does nothing. A run builds in
# <key>.partial, remembers each finished step there (so a run that stopped
# goes on where it stopped), and renames it to <key> only once everything is
# installed; the file COMPLETE marks a finished toolchain.
#
# Use the result with
#   cmake -DCMAKE_TOOLCHAIN_FILE=<cache>/<key>/toolchain.cmake ...
set -euo pipefail

# Exact Debian source versions (bookworm). Pinned, so that the key says what
# was built and a rebuild gives the same thing; raise one here to move on.
# openssl 3.0.22 and postgresql-15 15.20 are listed by the archive, but it did
# not serve their files when this was written.
declare -A source_version=(
    [openssl]=3.0.20-1~deb12u2
    [postgresql-15]=15.18-0+deb12u1
    [sqlite3]=3.40.1-2+deb12u2
    [qt6-base]=6.4.2+dfsg-10
    [qt6-serialport]=6.4.2-2
    [qt6-svg]=6.4.2-2
    [qt6-charts]=6.4.2-3
)
source_order=(openssl postgresql-15 sqlite3 qt6-base qt6-serialport qt6-svg qt6-charts)
host_qt_version=6.4.2

target=x86_64-w64-mingw32
cc=$target-gcc-posix
cxx=$target-g++-posix
jobs=2 # a shared two-core machine: never more
build_nice=(nice -n 19)

packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev dpkg-dev cmake ninja-build make perl tcl patch xz-utils
    qt6-base-dev qt6-base-dev-tools
)

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
patch_dir=$script_dir/windows
cache_root=${ZOLVEX_WINDOWS_CACHE:-/var/cache/zolvex-windows}

die() {
    printf 'windows-toolchain: %s\n' "$*" >&2
    exit 1
}
say() { printf '%s windows-toolchain: %s\n' "$(date -u +%H:%M:%S)" "$*"; }
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

compute_key() {
    {
        cat "${BASH_SOURCE[0]}"
        if [ -d "$patch_dir" ]; then
            find "$patch_dir" -type f -print0 | LC_ALL=C sort -z | xargs -0r cat
        fi
        for p in "${source_order[@]}"; do printf '%s=%s\n' "$p" "${source_version[$p]}"; done
    } | sha256sum | cut -c1-12
}

key=$(compute_key)
final=$cache_root/$key
part=$cache_root/$key.partial

if [ -f "$final/COMPLETE" ]; then
    say "already built in $final; nothing to do"
    say "toolchain file: $final/toolchain.cmake"
    exit 0
fi

as_root mkdir -p "$cache_root"
[ -w "$cache_root" ] || die "cannot write to $cache_root (set ZOLVEX_WINDOWS_CACHE)"
exec 9>"$cache_root/.lock"
flock -n 9 || die "another run is building in $cache_root; wait for it to end"
[ ! -e "$final" ] || die "$final exists but is not complete; remove it and run again"

start=$SECONDS
report_stop() {
    local rc=$? took=$((SECONDS - start))
    [ "$rc" -eq 0 ] || say "stopped after $((took / 60)) min $((took % 60)) s;" \
        "$(du -sh "$part" 2>/dev/null | cut -f1) in $part"
}
trap report_stop EXIT
mkdir -p "$part"
deps=$part/deps
qt=$part/qt
work=$part/build
src=$part/src
mkdir -p "$deps" "$qt" "$work" "$src"
times=$part/build-times.txt

install_packages() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        say "installing ${missing[*]}"
        as_root apt-get update
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
    fi
    local host_version
    host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    case $host_version in
    "$host_qt_version"+* | "$host_qt_version"-*) ;;
    *) die "the host Qt is $host_version; the cross Qt is $host_qt_version and they must match" ;;
    esac
}

# Debian's deb-src entries for bookworm, added once if apt knows no sources.
enable_sources() {
    if apt-cache showsrc --only-source qt6-base 2>/dev/null | grep -q '^Package:'; then
        return
    fi
    say "adding Debian's source entries for bookworm"
    as_root tee /etc/apt/sources.list.d/zolvex-deb-src.sources >/dev/null <<'EOF'
# Debian source packages for ZOLVEX's Windows cross toolchain (scripts/windows-toolchain.sh).
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    as_root apt-get update
}

check_versions() {
    local p listed newest v
    for p in "${source_order[@]}"; do
        listed=$(apt-cache showsrc --only-source "$p" | awk '/^Version:/ {print $2}')
        grep -qxF "${source_version[$p]}" <<<"$listed" ||
            die "Debian's archive does not list $p ${source_version[$p]} (it has: $(echo "$listed" | tr '\n' ' '))"
        newest=${source_version[$p]}
        for v in $listed; do
            if dpkg --compare-versions "$v" gt "$newest"; then newest=$v; fi
        done
        [ "$newest" = "${source_version[$p]}" ] ||
            say "note: Debian has $p $newest; this script builds ${source_version[$p]}"
    done
}

# Unpacks (with Debian's patches applied) one source package into $src/<package>
# and prints that folder.
fetch_source() {
    local p=$1 dir=$src/$1
    rm -rf "$dir"
    mkdir -p "$dir.download"
    (cd "$dir.download" && apt-get source --download-only "$p=${source_version[$p]}" >&2) ||
        die "could not fetch the Debian source of $p ${source_version[$p]};" \
            "the steps finished so far stay in $part and the next run goes on from there"
    dpkg-source -x "$dir.download/${p}_${source_version[$p]#*:}.dsc" "$dir" >&2 ||
        die "could not unpack the Debian source of $p ${source_version[$p]}"
    rm -rf "$dir.download"
    printf '%s\n' "$dir"
}

# Runs one step unless an earlier run finished it, and records how long it took.
step() {
    local name=$1
    shift
    if [ -f "$part/.done-$name" ]; then
        say "$name: done by an earlier run"
        return
    fi
    say "$name: start"
    local t0=$SECONDS
    "$@"
    local took=$((SECONDS - t0))
    printf '%-16s %4d min %02d s\n' "$name" $((took / 60)) $((took % 60)) >>"$times"
    touch "$part/.done-$name"
    say "$name: done in $((took / 60)) min $((took % 60)) s"
}

write_toolchain_file() {
    cat >"$part/toolchain.cmake" <<EOF
# CMake toolchain file for cross-building ZOLVEX for 64-bit Windows with
# MinGW-w64 against the Qt, libpq, OpenSSL and SQLite in this folder.
# Written by scripts/windows-toolchain.sh (key $key).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $cc)
set(CMAKE_CXX_COMPILER $cxx)
set(CMAKE_RC_COMPILER $target-windres)

get_filename_component(ZOLVEX_WINDOWS_TOOLCHAIN_DIR "\${CMAKE_CURRENT_LIST_DIR}" ABSOLUTE)
set(ZOLVEX_WINDOWS_QT_PREFIX "\${ZOLVEX_WINDOWS_TOOLCHAIN_DIR}/qt")
# libpq, OpenSSL and SQLite: headers in include/, import libraries in lib/, DLLs in bin/.
set(ZOLVEX_WINDOWS_DEPS_PREFIX "\${ZOLVEX_WINDOWS_TOOLCHAIN_DIR}/deps")

set(CMAKE_FIND_ROOT_PATH /usr/$target "\${ZOLVEX_WINDOWS_QT_PREFIX}" "\${ZOLVEX_WINDOWS_DEPS_PREFIX}")
list(APPEND CMAKE_PREFIX_PATH "\${ZOLVEX_WINDOWS_QT_PREFIX}" "\${ZOLVEX_WINDOWS_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's own Qt $host_qt_version runs moc, rcc and uic.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
EOF
}

# The MinGW runtime DLLs every program built with this toolchain needs beside it.
install_runtime() {
    local dll path
    for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        path=$("$cxx" -print-file-name="$dll")
        [ -f "$path" ] || die "cannot find the MinGW runtime $dll"
        install -D -m 644 "$path" "$deps/bin/$dll"
    done
}

build_openssl() {
    local s
    s=$(fetch_source openssl)
    cd "$s"
    # Without a cross prefix Configure takes the compilers from the environment,
    # which names the POSIX-thread variant explicitly.
    CC=$cc AR=$target-ar RANLIB=$target-ranlib RC=$target-windres \
        "${build_nice[@]}" perl Configure mingw64 shared no-tests \
        --prefix="$deps" --libdir=lib --openssldir="$deps/ssl"
    "${build_nice[@]}" make -j"$jobs" build_libs
    "${build_nice[@]}" make install_dev
}

build_libpq() {
    local s
    s=$(fetch_source postgresql-15)
    mkdir -p "$work/libpq"
    cd "$work/libpq"
    CC=$cc AR=$target-ar RANLIB=$target-ranlib \
        "${build_nice[@]}" "$s/configure" --host="$target" --prefix="$deps" \
        --with-ssl=openssl --with-includes="$deps/include" --with-libraries="$deps/lib" \
        --without-readline --without-zlib --without-icu --without-gssapi --without-ldap \
        --without-perl --without-python --without-tcl --disable-nls --disable-rpath
    "${build_nice[@]}" make -j"$jobs" -C src/interfaces/libpq
    "${build_nice[@]}" make -C src/include install
    "${build_nice[@]}" make -C src/interfaces/libpq install
}

build_sqlite() {
    local s
    s=$(fetch_source sqlite3)
    mkdir -p "$work/sqlite"
    cd "$work/sqlite"
    # The amalgamation is generated on the build machine, then cross-compiled.
    "${build_nice[@]}" "$s/configure" --disable-tcl >/dev/null
    "${build_nice[@]}" make sqlite3.c
    "${build_nice[@]}" "$cc" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA \
        -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_OMIT_LOAD_EXTENSION -c sqlite3.c -o sqlite3.o
    rm -f libsqlite3.a
    "$target-ar" rcs libsqlite3.a sqlite3.o
    install -D -m 644 libsqlite3.a "$deps/lib/libsqlite3.a"
    install -D -m 644 sqlite3.h "$deps/include/sqlite3.h"
    install -D -m 644 sqlite3ext.h "$deps/include/sqlite3ext.h"
}

qt_cmake() {
    "${build_nice[@]}" cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$part/toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$qt" \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF "$@"
}

qt_build_install() {
    "${build_nice[@]}" cmake --build . --parallel "$jobs"
    "${build_nice[@]}" cmake --install .
}

build_qtbase() {
    local s
    s=$(fetch_source qt6-base)
    rm -rf "$work/qtbase"
    mkdir -p "$work/qtbase"
    cd "$work/qtbase"
    # Debian's source drops the tablet header wintab.h, hence no tablet events;
    # OpenGL stays on because the Windows platform plugin of 6.4.2 needs it.
    # Test stays on: the project's suites are Qt Test programs.
    qt_cmake -S "$s" \
        -DFEATURE_tabletevent=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_xml=OFF \
        -DFEATURE_sql=ON -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON -DFEATURE_sql_psql=ON \
        -DFEATURE_sql_odbc=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_oci=OFF \
        -DFEATURE_sql_ibase=OFF -DFEATURE_sql_db2=OFF \
        -DFEATURE_printsupport=ON -DFEATURE_testlib=ON -DFEATURE_vulkan=OFF
    qt_build_install
}

build_qt_module() {
    local p=$1 s
    s=$(fetch_source "$p")
    rm -rf "${work:?}/$p"
    mkdir -p "$work/$p"
    cd "$work/$p"
    qt_cmake -S "$s"
    qt_build_install
}

say "key $key; building in $part"
install_packages
enable_sources
check_versions
write_toolchain_file
for p in "${source_order[@]}"; do
    printf '%s %s\n' "$p" "${source_version[$p]}"
done >"$part/sources.txt"

step runtime install_runtime
step openssl build_openssl
step libpq build_libpq
step sqlite build_sqlite
step qtbase build_qtbase
step qtserialport build_qt_module qt6-serialport
step qtsvg build_qt_module qt6-svg
step qtcharts build_qt_module qt6-charts

rm -rf "$work" "$src"
rm -f "$part"/.done-*
total=$((SECONDS - start))
printf '%-16s %4d min %02d s\n' "this run" $((total / 60)) $((total % 60)) >>"$times"
date -u +%Y-%m-%dT%H:%M:%SZ >"$part/COMPLETE"
mv -T "$part" "$final"

say "built in $((total / 60)) min $((total % 60)) s (this run)"
say "size: $(du -sh "$final" | cut -f1) in $final"
say "toolchain file: $final/toolchain.cmake"

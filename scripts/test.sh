#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test suite,
# the slow one on the real timers included, beside a throwaway PostgreSQL
# server for the history suites (scripts/with-postgres.sh). Then:
#  - the Debian package that cpack makes from that build, checked by
#    dist/check-deb.sh (lintian, contents, the programs run from it);
#  - the same suites but the slow one under AddressSanitizer and
#    UndefinedBehaviorSanitizer (build-asan/);
#  - the fuzz targets built with clang (build-fuzz/): one pass over each seed
#    corpus, then a short fuzzing run of each (ZOLVEX_FUZZ_SECONDS, 60 by
#    default) on a copy of its corpus, so the committed seeds never grow here.
# Any failing stage fails the script.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZOLVEX_BUILD_DIR:-$root/build}"
asan_build="$root/build-asan"
fuzz_build="$root/build-fuzz"
fuzz_seconds="${ZOLVEX_FUZZ_SECONDS:-60}"
fuzz_targets=(fuzz_receive fuzz_firmware fuzz_dataline fuzz_constants fuzz_record fuzz_recordreader)

stage() { printf '\n==== %s\n' "$*"; }

bash "$root/scripts/deps.sh"

stage "Build and all tests"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLVEX_WERROR=ON
cmake --build "$build"
(cd "$build" && QT_QPA_PLATFORM=offscreen bash "$root/scripts/with-postgres.sh" \
    ctest --output-on-failure -j2 "$@")

stage "Debian package: cpack, lintian, the programs from a throwaway root"
rm -f "$build"/zolvex_*.deb
(cd "$build" && cpack -G DEB)
bash "$root/dist/check-deb.sh" "$build"

stage "AddressSanitizer and UndefinedBehaviorSanitizer: all tests but the slow one"
cmake -S "$root" -B "$asan_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLVEX_WERROR=ON \
    -DZOLVEX_SANITIZE=ON
cmake --build "$asan_build"
(cd "$asan_build" &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        QT_QPA_PLATFORM=offscreen bash "$root/scripts/with-postgres.sh" \
        ctest --output-on-failure -j2 -LE slow)

stage "Fuzz targets: one pass over each seed corpus"
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZOLVEX_WERROR=ON -DZOLVEX_FUZZ=ON
cmake --build "$fuzz_build" --target zolvex_fuzz_targets
(cd "$fuzz_build" && ctest --output-on-failure -L fuzz)

stage "Fuzz targets: ${fuzz_seconds} s each"
work="$fuzz_build/fuzz-run"
rm -rf "$work"
mkdir -p "$work/artifacts"
for target in "${fuzz_targets[@]}"; do
    cp -r "$root/fuzz/corpus/$target" "$work/$target"
    log="$work/$target.log"
    echo "$target: fuzzing for ${fuzz_seconds} s"
    if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        LC_ALL=C.UTF-8 "$fuzz_build/fuzz/$target" -max_total_time="$fuzz_seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" \
        "$work/$target" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "$target: FAILED (input kept in $work/artifacts/)"
        exit 1
    fi
    grep -E '^Done|stat::number_of_executed_units|stat::new_units_added' "$log" || true
done
echo "All fuzz targets ran ${fuzz_seconds} s without a finding."

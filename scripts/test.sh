#!/usr/bin/env bash
# Builds with warnings as errors and runs the test suites under CTest beside a
# throwaway PostgreSQL server for the history suites (scripts/with-postgres.sh).
#
#   bash scripts/test.sh [--quick | --full] [ctest arguments...]
#
#   (no mode)  every suite, the slow one on the real timers included: what a
#              developer runs before handing work on.
#   --quick    every suite but those labelled slow or scale, on the incremental
#              build: the loop while editing.
#   --full     what CI runs: every suite, then
#               - the Debian package that cpack makes from that build, checked
#                 by dist/check-deb.sh (lintian, contents, the programs run);
#               - the suites but the slow one under AddressSanitizer and
#                 UndefinedBehaviorSanitizer (build-asan/);
#               - the fuzz targets built with clang (build-fuzz/): one pass over
#                 each seed corpus, then a fuzzing run of each
#                 (ZOLVEX_FUZZ_SECONDS, 60 by default) on a copy of its corpus,
#                 so the committed seeds never grow here; two targets at a time.
# Further arguments go to the first ctest run. Any failing stage fails the script.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZOLVEX_BUILD_DIR:-$root/build}"
asan_build="$root/build-asan"
fuzz_build="$root/build-fuzz"
fuzz_seconds="${ZOLVEX_FUZZ_SECONDS:-60}"
fuzz_targets=(fuzz_receive fuzz_firmware fuzz_dataline fuzz_constants fuzz_record fuzz_recordreader)
# The suites skipped by --quick: the real-timer run and the fleet-scale window.
quick_excluded_labels='slow|scale'
# The suites mostly wait (timers, the server, the pseudo-terminal): four at a
# time keep two cores busy. Under the sanitizers they compute, two at a time;
# so do the fuzzers, one per core.
ctest_jobs=4
asan_ctest_jobs=2
fuzz_jobs=2

mode=all
case "${1:-}" in
--quick) mode=quick; shift ;;
--full) mode=full; shift ;;
esac

stage() { printf '\n==== %s\n' "$*"; }

bash "$root/scripts/deps.sh"

# A compiler cache, where one is installed, makes the three builds of a fresh
# clone cheap once anything like them was built on this machine.
launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Paths inside the clone count relative to it, so another clone hits too.
    export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
fi

label_filter=()
[ "$mode" = quick ] && label_filter=(-LE "$quick_excluded_labels")
stage "Build and tests ($mode)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLVEX_WERROR=ON \
    "${launcher[@]}"
cmake --build "$build"
(cd "$build" && QT_QPA_PLATFORM=offscreen bash "$root/scripts/with-postgres.sh" \
    ctest --output-on-failure -j"$ctest_jobs" "${label_filter[@]}" "$@")

[ "$mode" = full ] || exit 0

stage "Debian package: cpack, lintian, the programs from a throwaway root"
rm -f "$build"/zolvex_*.deb
(cd "$build" && cpack -G DEB)
bash "$root/dist/check-deb.sh" "$build"

stage "AddressSanitizer and UndefinedBehaviorSanitizer: all tests but the slow one"
cmake -S "$root" -B "$asan_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLVEX_WERROR=ON \
    -DZOLVEX_SANITIZE=ON "${launcher[@]}"
cmake --build "$asan_build"
(cd "$asan_build" &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        QT_QPA_PLATFORM=offscreen bash "$root/scripts/with-postgres.sh" \
        ctest --output-on-failure -j"$asan_ctest_jobs" -LE slow)

stage "Fuzz targets: one pass over each seed corpus"
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZOLVEX_WERROR=ON -DZOLVEX_FUZZ=ON "${launcher[@]}"
cmake --build "$fuzz_build" --target zolvex_fuzz_targets
(cd "$fuzz_build" && ctest --output-on-failure -L fuzz)

stage "Fuzz targets: ${fuzz_seconds} s each, ${fuzz_jobs} at a time"
work="$fuzz_build/fuzz-run"
rm -rf "$work"
mkdir -p "$work/artifacts"

# Fuzzes one target; its log is printed when it is done, so the logs of
# targets running side by side do not interleave.
fuzz_one() {
    local target="$1" log="$work/$1.log"
    cp -r "$root/fuzz/corpus/$target" "$work/$target"
    if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        LC_ALL=C.UTF-8 "$fuzz_build/fuzz/$target" -max_total_time="$fuzz_seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" \
        "$work/$target" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "$target: FAILED (input kept in $work/artifacts/)"
        return 1
    fi
    echo "$target: fuzzed for ${fuzz_seconds} s"
    grep -E '^Done|stat::number_of_executed_units|stat::new_units_added' "$log" || true
}

failed=0
running=0
for target in "${fuzz_targets[@]}"; do
    if [ "$running" -ge "$fuzz_jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    fuzz_one "$target" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then
    echo "A fuzz target found an input that fails."
    exit 1
fi
echo "All fuzz targets ran ${fuzz_seconds} s without a finding."

#!/usr/bin/env bash
# Builds the benchmark helpers in a build directory of their own and prints
# three tables. The first: start-up and memory against a bare Qt program, CPU
# while collecting at the line's full rate, a 1 MB burst, and the quiet after
# a hang-up. The second: the calibration history window on 10,000 runs of 500
# sensors in an SQLite file (the sensor list from start, one sensor, CSV
# export of everything, the import of 1,000 record files and a second import
# of them). The third, "fleet scale" (bench/fleet.sh): the history window on
# 100,000 runs of 5,000 sensors in SQLite, on PostgreSQL and through a
# delaying proxy, and the calibration screen's longest stall through whole
# training runs with the history in SQLite and through that proxy. Everything
# runs on a fresh Xvfb display (xcb platform), so that no desktop, window
# manager or compositor takes part.
#
#   bash bench/run.sh                 # ZOLVEX_BENCH_RUNS start-ups each (default 15)
#   ZOLVEX_BENCH_BUILD_DIR=...        # where to build (default build-bench/)
#   ZOLVEX_BENCH_ONLY_FLEET=1         # the fleet table alone
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZOLVEX_BENCH_BUILD_DIR:-$root/build-bench}"
runs="${ZOLVEX_BENCH_RUNS:-15}"
steady_runs="${ZOLVEX_BENCH_STEADY_RUNS:-3}"
burst_runs="${ZOLVEX_BENCH_BURST_RUNS:-3}"
settle_ms=500
line_rate=960      # bytes/s: 9600 baud, 8N1
slow_rate=21       # bytes/s: one 21-byte data line a second
burst=1048576
# The history: the sample generator's runs of this seed number exactly
# 500 x 20 = 10,000 (tests/gui/tst_historyscale.cpp uses the same).
history_sensors=500
history_runs_per_sensor=20
history_seed=32
pick_processes="${ZOLVEX_BENCH_PICK_PROCESSES:-3}"
picks=25          # measured in each process, after 3 not counted
history_reps="${ZOLVEX_BENCH_HISTORY_REPS:-5}" # exports and imports, after 1 not counted
record_files=1000

if [ "${1:-}" != "--on-display" ]; then
    bash "$root/scripts/deps.sh"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZOLVEX_BENCH=ON -DZOLVEX_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target zolvex zolvex_bench_bare zolvex_bench_baretext \
        zolvex_bench_mainwindow zolvex_bench_startup zolvex_bench_sensor zolvex_bench_collect \
        zolvex-history zolvex_bench_history zolvex_bench_screenrun >/dev/null
    export ZOLVEX_BENCH_BUILD_DIR="$build"
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$0" --on-display
fi

export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
bin="$build/bench"
logs="$(mktemp -d)"
if [ "${ZOLVEX_BENCH_ONLY_FLEET:-}" = 1 ]; then
    bash "$root/bench/fleet.sh" "$build" "$logs"
    echo
    echo "Per-run results: $logs"
    exit 0
fi

source "$root/bench/stats.sh"

start_up() { "$bin/zolvex_bench_startup" "$settle_ms" "$@" 2>>"$logs/startup.err"; }

# Warm the file cache and the font cache first; these runs are not counted.
programs=(bare:"$bin/zolvex_bench_bare" text:"$bin/zolvex_bench_baretext"
    window:"$bin/zolvex_bench_mainwindow" zolvex:"$build/app/zolvex")
for _ in 1 2; do
    for p in "${programs[@]}"; do start_up "${p#*:}" >/dev/null; done
done
for p in "${programs[@]}"; do : >"$logs/${p%%:*}"; done
for ((i = 0; i < runs; i++)); do
    for p in "${programs[@]}"; do start_up "${p#*:}" >>"$logs/${p%%:*}"; done
done

m() { field "$2" <"$logs/$1" | grep -v '^-$' | median; }
bare_damage=$(m bare damage_ms) text_damage=$(m text damage_ms) zolvex_damage=$(m zolvex damage_ms)
bare_cpu=$(m bare cpu_ms) text_cpu=$(m text cpu_ms) zolvex_cpu=$(m zolvex cpu_ms)
bare_paint=$(m bare paint_ms) text_paint=$(m text paint_ms) window_paint=$(m window paint_ms)
bare_rss=$(m bare rss_kb) text_rss=$(m text rss_kb) zolvex_rss=$(m zolvex rss_kb)
load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)

collect() { "$bin/zolvex_bench_collect" "$@" 2>>"$logs/collect.err"; }
: >"$logs/steady" && : >"$logs/garbage" && : >"$logs/lines"
for ((i = 0; i < steady_runs; i++)); do collect steady "$line_rate" >>"$logs/steady"; done
collect steady "$slow_rate" >"$logs/slow"
for ((i = 0; i < burst_runs; i++)); do
    collect garbage "$burst" >>"$logs/garbage"
    collect lines "$burst" >>"$logs/lines"
done
collect hangup >"$logs/hangup"

load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)

# The history, in a folder of the bench's own on the same disk as a user's
# home: no settings file, no pending runs.
hist="$(mktemp -d)"
history_file="$hist/history.sqlite"
empty_file="$hist/empty.sqlite"
hbench="$bin/zolvex_bench_history"
# A helper that fails stops the bench with what it said, rather than print a
# table without it.
must() { # log of its standard error, command...
    local err=$1
    shift
    "$@" 2>>"$err" || { echo "failed: $*" >&2 && cat "$err" >&2 && exit 1; }
}
must "$logs/fill.err" "$hbench" fill "$history_file" "$history_sensors" \
    "$history_runs_per_sensor" "$history_seed" >"$logs/fill"
# As zolvex-history finds its history: here through the environment variable.
in_history() { # database file, command...
    local file=$1
    shift
    env XDG_CONFIG_HOME="$hist/config" XDG_DATA_HOME="$hist/data" \
        ZOLVEX_HISTORY_DATABASE="sqlite:$file" "$@"
}
# One start-up of each, interleaved: the bench's window (list), the real
# zolvex-history on the same history (real) and on an empty one (empty).
history_start_ups() { # where the results go: a folder, or /dev/null
    local p out err file command
    for p in list real empty; do
        file=$history_file
        command=("$build/app/zolvex-history")
        [ "$p" = list ] && command=("$hbench" window "$history_file")
        [ "$p" = empty ] && file=$empty_file
        out=/dev/null err="$logs/warm-up.err"
        [ "$1" = /dev/null ] || out="$1/$p" err="$1/$p.err"
        in_history "$file" "$bin/zolvex_bench_startup" "$settle_ms" "${command[@]}" \
            >>"$out" 2>>"$err"
    done
}
cat "$history_file"* >/dev/null # the file cache warm
history_start_ups /dev/null
history_start_ups /dev/null
for ((i = 0; i < runs; i++)); do history_start_ups "$logs"; done
: >"$logs/pick"
for ((i = 0; i < pick_processes; i++)); do
    must "$logs/pick.err" in_history "$history_file" "$hbench" pick "$history_file" "$picks" 3 \
        >>"$logs/pick"
done
mkdir -p "$hist/out" "$hist/import"
must "$logs/export.err" in_history "$history_file" "$hbench" export "$history_file" \
    "$hist/out" "$history_reps" >"$logs/export"
must "$logs/import.err" in_history "$history_file" "$hbench" import "$hist/import" \
    "$record_files" "$history_reps" >"$logs/import"
rm -rf "$hist/out" "$hist/import"
load_history=$(cut -d ' ' -f 1-3 /proc/loadavg)
steady_share=$(m steady share_pct)
steady_range=$(field share_pct <"$logs/steady" | range)
steady_cpu=$(m steady cpu_ms)
steady_wall=$(m steady wall_s)
steady_bytes=$(m steady bytes_streamed)
slow_share=$(field share_pct <"$logs/slow")
slow_cpu=$(field cpu_ms <"$logs/slow")
slow_lines=$(sed -n 's/.*Validation Set \([0-9]*\) .*/\1/p' "$logs/slow" | awk '{print $1 + 1}')
steady_lines=$(sed -n 's/.*Validation Set \([0-9]*\) .*/\1/p' "$logs/steady" | awk '{print $1 + 1}' | median)
garbage_ms=$(m garbage wall_ms)
garbage_cpu=$(m garbage cpu_ms)
garbage_peak=$(m garbage peak_growth_kb)
lines_ms=$(m lines wall_ms)
lines_cpu=$(m lines cpu_ms)
lines_peak=$(m lines peak_growth_kb)
lines_count=$(sed -n 's/.*Validation Set \([0-9]*\) .*/\1/p' "$logs/lines" | head -n 1)
hang_all=$(field cpu_0_10s_ms <"$logs/hangup")
hang_settled=$(field cpu_1_10s_ms <"$logs/hangup")
hang_wakeups=$(field wakeups_1_10s <"$logs/hangup")
hang_boxes=$(field boxes <"$logs/hangup")

# The median and the range of one figure of a log: "median|lo–hi".
mr() { echo "$(field "$2" <"$logs/$1" | grep -v '^-$' | median) ms ($(field "$2" <"$logs/$1" | grep -v '^-$' | range))"; }
hm() { field "$2" <"$logs/$1" | grep -v '^-$' | median; }
history_runs=$(field runs <"$logs/fill")
history_sensors_seen=$(field sensors <"$logs/fill")
list_rows=$(field rows <"$logs/list.err" | sort -u | tr '\n' ' ')
pick_count=$(grep -c pick_ms= "$logs/pick")
pick_runs=$(field runs <"$logs/pick" | range)
csv_bytes=$(field bytes <"$logs/export" | head -n 1)
csv_runs=$(field runs <"$logs/export" | head -n 1)
history_row() { # label, log, key, aim in ms ("" for none)
    local v
    v=$(hm "$2" "$3")
    if [ -n "$4" ]; then
        echo "| $1 | $(mr "$2" "$3") | < $4 ms | $(verdict "$v" "$(awk -v a="$4" 'BEGIN {print a - 0.1}')") |"
    else
        echo "| $1 | $(mr "$2" "$3") | – | |"
    fi
}

cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
mem_total=$(awk '/^MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)
qt_version=$(sed -n 's/^Version: //p' < <(dpkg -s libqt6core6 2>/dev/null) | head -n 1)

row() { # label, zolvex, bare, text, unit, aim
    local r
    r=$(ratio "$2" "$3")
    echo "| $1 | $2 $5 | $3 $5 | **$r** | $4 $5 | $(ratio "$2" "$4") | ≤ 1.15 | $(verdict "$r" 1.15) |"
}

cat <<TABLE
### ZOLVEX benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')

Machine: ${cpu_model}, $(nproc) CPUs, ${mem_total} RAM; $(uname -sr); Qt ${qt_version:-6};
RelWithDebInfo build; a fresh Xvfb display, xcb platform, no window manager. Load average
${load_before} after the start-ups, ${load_after} after the collections (other work on the machine
stretches wall-clock times; CPU times much less).

Start-up: medians of ${runs} runs of each program, interleaved, after 2 warm-up runs; times count from
just before fork(). The aim is against the bare program with one empty window; the column with one
label is for reference: an empty window never loads a font, any window with text does.

| measure | ZOLVEX | bare Qt, empty window | ratio | bare Qt, one label | ratio | aim | result |
|---|---|---|---|---|---|---|---|
$(row "start-up to the first drawing in its mapped window, seen from outside (X DAMAGE; the real \`zolvex\`)" "$zolvex_damage" "$bare_damage" "$text_damage" ms)
$(row "CPU time used up to that first drawing (all threads, schedstat; the real \`zolvex\`)" "$zolvex_cpu" "$bare_cpu" "$text_cpu" ms)
$(row "start-up to the window's first paint event (event filter in \`zolvex_bench_mainwindow\`, which builds the main window as \`main()\` does)" "$window_paint" "$bare_paint" "$text_paint" ms)
$(row "resident memory (VmRSS) ${settle_ms} ms after the first drawing (the real \`zolvex\`)" "$zolvex_rss" "$bare_rss" "$text_rss" kB)

The calibration screen (\`zolvex_bench_collect\`) collecting the validation high reading, with
the simulated sensor in a process of its own (\`zolvex_bench_sensor\`); CPU is the whole screen
process's (getrusage, all threads).

| measure | result | aim | |
|---|---|---|---|
| CPU over one collection (${steady_wall} s) while data lines stream back to back at ${line_rate} B/s (${steady_bytes} B, ${steady_lines} lines, one write per line); median of ${steady_runs} | ${steady_share} % of a core (${steady_cpu} ms; runs ${steady_range} %) | < 0.5 % | $(verdict "$steady_share" 0.499) |
| the same at one data line a second (${slow_lines} lines), for reference | ${slow_share} % of a core (${slow_cpu} ms) | – | |
| 1 MB of pseudo-random garbage, then one data line: from the write until that line is echoed; median of ${burst_runs} | ${garbage_ms} ms; CPU ${garbage_cpu} ms; peak RSS +${garbage_peak} kB | < 1 s | $(verdict "$garbage_ms" 999.9) |
| 1 MB of data lines ($((lines_count + 1)) lines), same | ${lines_ms} ms; CPU ${lines_cpu} ms; peak RSS +${lines_peak} kB | < 1 s | $(verdict "$lines_ms" 999.9) |
| CPU after a hang-up while collecting (the link-lost box left open) | ${hang_all} ms in 0–10 s; ${hang_settled} ms and ${hang_wakeups} wake-up in 1–10 s (the bench's own 10 s timer is one); ${hang_boxes} box | nothing | $(verdict "$hang_wakeups" 1) |

The calibration history window on ${history_runs} runs of ${history_sensors_seen} sensors (the sample
generator, seed ${history_seed}) in an SQLite file on the machine's disk, its file cache warm; no
settings file, no pending runs. Load average ${load_history} after these measures. Each figure is
the median, with the range in brackets.

| measure | median (range) | aim | result |
|---|---|---|---|
$(history_row "the sensor list from start: fork to the end of the first frame that draws the list filled (${list_rows}rows; \`zolvex_bench_history window\`, which builds the window as \`zolvex-history\`'s \`main()\` does); ${runs} start-ups" list paint_ms 300)
$(history_row "the same counted inside the process, from \`main()\` entry" list.err main_to_list_ms "")
$(history_row "the real \`zolvex-history\` on this history: fork to its first drawing (X DAMAGE); CPU to then $(hm real cpu_ms) ms, resident memory $(hm real rss_kb) kB" real damage_ms 300)
$(history_row "the real \`zolvex-history\` on an empty history, for reference; CPU $(hm empty cpu_ms) ms, resident memory $(hm empty rss_kb) kB" empty damage_ms "")
$(history_row "one sensor: from picking it in the list (\`setCurrentIndex\`) to the end of the last frame that draws its runs table and its chart; ${pick_count} picks of different sensors (${pick_runs} runs each) in ${pick_processes} processes, CPU $(hm pick pick_cpu_ms) ms" pick pick_ms 100)
$(history_row "CSV export of all ${csv_runs} runs (${csv_bytes} bytes) as the window's export does it: \`Store::allRuns\` $(hm export all_runs_ms) ms, \`history::toCsv\` $(hm export to_csv_ms) ms, \`QSaveFile\` $(hm export write_ms) ms; ${history_reps} times" export csv_ms 1000)
$(history_row "the same through the window's Export all, its file dialog answered at once: the wait before the dialog shows ($(hm export before_dialog_ms) ms) and after it is answered until the window says the file is written ($(hm export after_dialog_ms) ms; read and written on a thread of its own)" export window_csv_ms 1000)
$(history_row "the window's longest stall meanwhile (the largest gap between ticks of a 1 ms timer)" export stall_ms 17)
$(history_row "import of ${record_files} record files (\`record::text()\`: both kinds, tips 1, 2, 3 and none, in year folders) into a fresh history: \`RecordImport::filesUnder\` and \`run\`, the window's import code; ${history_reps} times" import import_ms 3000)
$(history_row "the same through the window's Import action, its folder dialog answered at once: from the folder chosen to the summary (the progress dialog and the reloaded list included)" import window_import_ms 3000)
$(history_row "a second import of the same folder: all ${record_files} recognised and skipped (\`RecordImport\`)" import reimport_ms 3000)
$(history_row "the same through the window's Import action" import window_reimport_ms 3000)
TABLE

bash "$root/bench/fleet.sh" "$build" "$logs"
echo
echo "Per-run results: $logs"

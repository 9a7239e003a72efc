#!/usr/bin/env bash
# The "fleet scale" table of bench/run.sh: the history window on 5,000
# sensors and 100,000 runs (the sample generator) in an SQLite file, on a
# throwaway PostgreSQL server on this machine, and on that server through
# bench/delayproxy.py (loopback only, a delay each way); then the calibration
# screen's longest stall through whole training runs (zolvex_bench_screenrun)
# with the history in that SQLite file and through the proxy. Run by run.sh on
# its display; by hand: bash bench/fleet.sh <build dir> <log folder>.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build=$1
logs=$2
source "$root/bench/stats.sh"

fleet_sensors="${ZOLVEX_BENCH_FLEET_SENSORS:-5000}"
fleet_runs_per_sensor=20
fleet_seed=15
reps="${ZOLVEX_BENCH_FLEET_REPS:-3}"            # tours of the window per history
start_ups="${ZOLVEX_BENCH_FLEET_START_UPS:-5}"  # start-ups per history
picks=5                                         # per tour
record_files="${ZOLVEX_BENCH_FLEET_FILES:-10000}"
# Through the proxy each file costs round trips: fewer, to keep the bench bounded.
proxy_record_files=20
proxy_delay_ms=20
proxy_lifetime_s=1200 # the proxy ends by itself, whatever happens here
settle_ms=500
screen_runs="${ZOLVEX_BENCH_SCREEN_RUNS:-3}" # training runs per history, about 3 min each
screen_timeout_s=300                          # a run that hangs is ended, and fails the bench
# A list that fills after the window shows reports later than its first drawing.
export ZOLVEX_BENCH_PAINT_GRACE_MS=20000
# Aims in ms (and kB for memory); the proxy's where they differ.
aim_list=500 aim_list_proxy=1500 aim_pick=100 aim_pick_proxy=300 aim_filter=50
aim_export=3000 aim_import=15000 aim_memory_kb=153600 aim_stall=17
# Through the proxy the import's aim is the same rate per file.
aim_import_proxy=$((aim_import * proxy_record_files / record_files))

hbench="$build/bench/zolvex_bench_history"
screenrun="$build/bench/zolvex_bench_screenrun"
work="$(mktemp -d)"
server=""
proxy=""
cleanup() {
    [ -n "$proxy" ] && kill "$proxy" 2>/dev/null || true
    [ -n "$server" ] && bash "$root/scripts/with-postgres.sh" --remove "$server" || true
    rm -rf "$work"
}
trap cleanup EXIT

must() { # log of its standard error, command...
    local err=$1
    shift
    "$@" 2>>"$err" || { echo "failed: $*" >&2 && cat "$err" >&2 && exit 1; }
}
# No settings file, no pending runs of the user's.
in_bench() { env XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" "$@"; }

# The histories.
sqlite="$work/fleet.sqlite"
must "$logs/fleet-fill.err" "$hbench" fill "$sqlite" "$fleet_sensors" "$fleet_runs_per_sensor" \
    "$fleet_seed" >"$logs/fleet-fill-sqlite"
mapfile -t pg < <(bash "$root/scripts/with-postgres.sh" --init --tcp)
server=${pg[0]}
# The role that gives its password, over TCP to 127.0.0.1 on a server without TLS.
tcp=${pg[2]/@localhost:/@127.0.0.1:}
server_port=$(sed 's|.*@127.0.0.1:\([0-9]*\)/.*|\1|' <<<"$tcp")
# The sample signs its runs as the bench's role: a member of the signers'
# role, as a reviewer's own login is (never a superuser: the server refuses
# those), made through the server's superuser.
bench_role=$(sed 's|postgresql://\([^:]*\):.*|\1|' <<<"$tcp")
must "$logs/fleet-fill.err" /usr/lib/postgresql/15/bin/psql -X -q -v ON_ERROR_STOP=1 "${pg[1]}" \
    -c "CREATE ROLE zolvex_signers NOLOGIN" -c "GRANT zolvex_signers TO \"$bench_role\""
direct="$tcp?sslmode=disable"
must "$logs/fleet-fill.err" "$hbench" fill "$direct" "$fleet_sensors" "$fleet_runs_per_sensor" \
    "$fleet_seed" >"$logs/fleet-fill-pg"
coproc PROXY { exec python3 "$root/bench/delayproxy.py" "$server_port" "$proxy_delay_ms" \
    "$proxy_lifetime_s"; }
proxy=$PROXY_PID
read -r proxy_line <&"${PROXY[0]}"
proxy_port=${proxy_line#port=}
distant="${direct/@127.0.0.1:$server_port\//@127.0.0.1:$proxy_port/}"

# Start-ups (fork to the first frame that draws the list filled) and tours,
# the histories interleaved.
kinds=(sqlite pg proxy)
where() { case $1 in sqlite) echo "$sqlite" ;; pg) echo "$direct" ;; proxy) echo "$distant" ;; esac; }
files_for() { [ "$1" = proxy ] && echo "$proxy_record_files" || echo "$record_files"; }
for k in "${kinds[@]}"; do : >"$logs/fleet-start-$k" && : >"$logs/fleet-tour-$k"; done
for ((i = 0; i < start_ups; i++)); do
    for k in "${kinds[@]}"; do
        in_bench "$build/bench/zolvex_bench_startup" "$settle_ms" "$hbench" window "$(where "$k")" \
            >>"$logs/fleet-start-$k" 2>>"$logs/fleet-start-$k.err"
    done
done
seed=100
for ((i = 0; i < reps; i++)); do
    for k in "${kinds[@]}"; do
        # Files of a seed of their own each time: every tour imports new records.
        seed=$((seed + 1))
        must "$logs/fleet-tour-$k.err" in_bench "$hbench" tour "$(where "$k")" "$work" \
            "$(files_for "$k")" "$picks" "$seed" >>"$logs/fleet-tour-$k"
        rm -rf "$work/records-$seed"
    done
done
load=$(cut -d ' ' -f 1-3 /proc/loadavg)

# Whole training runs, the histories interleaved, after the tours so that
# their runs do not change what the tours read.
screen_kinds=(sqlite proxy)
for k in "${screen_kinds[@]}"; do : >"$logs/fleet-screen-$k"; done
for ((i = 0; i < screen_runs; i++)); do
    for k in "${screen_kinds[@]}"; do
        mkdir "$work/screen-$k-$i"
        must "$logs/fleet-screen-$k.err" in_bench timeout "$screen_timeout_s" "$screenrun" \
            "$(where "$k")" "$work/screen-$k-$i" >>"$logs/fleet-screen-$k"
    done
done
screen_load=$(cut -d ' ' -f 1-3 /proc/loadavg)

values() { # log, key[, phase]
    if [ -n "${3:-}" ]; then grep "phase=$3 " "$logs/$1"; else cat "$logs/$1"; fi |
        field "$2" | grep -v '^-$' || true
}
# "median (lo–hi) unit | meets" for one history.
cell() { # log, key, aim, unit[, phase]
    local v m
    v=$(values "$1" "$2" "${5:-}")
    m=$(median <<<"$v")
    [ -n "$v" ] || { echo "– | **misses**" && return; }
    echo "$m$4 ($(range <<<"$v")) | $(verdict "$m" "$(awk -v a="$3" 'BEGIN {print a - 0.01}')")"
}
fleet_row() { # label, log prefix, key, aim, proxy aim, unit[, phase]
    echo "| $1 | < $4$6$([ "$5" != "$4" ] && echo ", proxy < $5$6") | $(cell "$2-sqlite" "$3" "$4" "$6" "${7:-}") | $(cell "$2-pg" "$3" "$4" "$6" "${7:-}") | $(cell "$2-proxy" "$3" "$5" "$6" "${7:-}") |"
}
mb_row() { # label, key
    local k v cells=""
    for k in "${kinds[@]}"; do
        v=$(values "fleet-tour-$k" "$2" | awk '{printf "%.0f\n", $1 / 1024}')
        cells+=" $(median <<<"$v") MB ($(range <<<"$v")) | $(verdict "$(median <<<"$v")" "$((aim_memory_kb / 1024 - 1))") |"
    done
    echo "| $1 | < $((aim_memory_kb / 1024)) MB |$cells"
}

runs_sqlite=$(field runs <"$logs/fleet-fill-sqlite")
runs_pg=$(field runs <"$logs/fleet-fill-pg")
rows_seen=$(values fleet-tour-sqlite rows start | sort -u | tr '\n' ' ')
register() { # what the sample's register holds, from its fill log
    local f=$logs/$1
    echo "$(field standards <"$f") standards, $(field signatures <"$f")" \
        "signatures, $(field certificates <"$f") certificates, $(field retired <"$f") sensors retired," \
        "$(field intervals <"$f") interval settings"
}

cat <<TABLE

Fleet scale: the history window on ${runs_sqlite} runs of ${fleet_sensors} sensors (the sample
generator, seed ${fleet_seed}; ${runs_pg} runs in PostgreSQL; its register: $(register fleet-fill-sqlite)
in SQLite, $(register fleet-fill-pg) in PostgreSQL) in an SQLite file; on a throwaway
PostgreSQL 15 server on this machine over TCP to 127.0.0.1 (\`scripts/with-postgres.sh --init --tcp\`,
no TLS); and on that server through \`bench/delayproxy.py\`, which holds every chunk back
${proxy_delay_ms} ms each way. Start-ups: ${start_ups} per history, fork to the end of the first frame
that draws the list filled (${rows_seen}rows). The rest: ${reps} tours per history of
\`zolvex_bench_history tour\`, one window each, its event loop watched by a 1 ms timer from the end
of its first frame on (zolvex-history builds and first draws its window before its event loop runs,
so there is no frame to miss before that; that time is in the start-up figure); each gap longer
than a frame is in \`fleet-tour-*.err\` with the CPU time the window's thread used in it. Each tour
imports record files it has not seen (${record_files} files; through the proxy
${proxy_record_files}). Median (range). Load average ${load} after these measures.

| measure | aim | SQLite | | PostgreSQL | | through the proxy | |
|---|---|---|---|---|---|---|---|
$(fleet_row "the sensor list from start: fork to the first frame that draws it filled" fleet-start paint_ms "$aim_list" "$aim_list_proxy" " ms")
$(fleet_row "the same inside the window: from its construction to that frame" fleet-tour list_ms "$aim_list" "$aim_list_proxy" " ms" start)
$(fleet_row "one sensor: from the pick to the last frame that draws its runs and chart (${picks} a tour)" fleet-tour pick_ms "$aim_pick" "$aim_pick_proxy" " ms")
$(fleet_row "a keystroke in the filter box to the frame that draws the list it filters (9, 9, backspace, backspace)" fleet-tour filter_ms "$aim_filter" "$aim_filter" " ms")
$(fleet_row "export of every run through Export all, its dialog answered at once" fleet-tour export_ms "$aim_export" "$aim_export" " ms" export)
$(fleet_row "import of the record files through Import, from the folder chosen to the summary" fleet-tour import_ms "$aim_import" "$aim_import_proxy" " ms" import)
$(mb_row "resident memory of the window after the tour (VmRSS)" rss_kb)
$(mb_row "its peak resident memory over the tour (VmHWM)" hwm_kb)
$(fleet_row "longest stall of the event loop (largest gap of a 1 ms timer): start, from its first frame to the list drawn" fleet-tour stall_ms "$aim_stall" "$aim_stall" " ms" start)
$(fleet_row "… filtering" fleet-tour stall_ms "$aim_stall" "$aim_stall" " ms" filter)
$(fleet_row "… picking" fleet-tour stall_ms "$aim_stall" "$aim_stall" " ms" pick)
$(fleet_row "… sorting the list by each column both ways" fleet-tour stall_ms "$aim_stall" "$aim_stall" " ms" sort)
$(fleet_row "… reload" fleet-tour stall_ms "$aim_stall" "$aim_stall" " ms" reload)
$(fleet_row "… export" fleet-tour stall_ms "$aim_stall" "$aim_stall" " ms" export)
$(fleet_row "… import" fleet-tour stall_ms "$aim_stall" "$aim_stall" " ms" import)
| calibration screen stall, training run: the longest gap of a 1 ms timer from Connect to the record saved (${screen_runs} runs a history) | < ${aim_stall} ms | $(cell fleet-screen-sqlite stall_ms "$aim_stall" " ms") | not taken | | $(cell fleet-screen-proxy stall_ms "$aim_stall" " ms") |
| … the longest call of the history writer's record() in it, for reference | – | $(values fleet-screen-sqlite record_max_ms | median) ms ($(values fleet-screen-sqlite record_max_ms | range)) | | | | $(values fleet-screen-proxy record_max_ms | median) ms ($(values fleet-screen-proxy record_max_ms | range)) | |

The training runs (\`zolvex_bench_screenrun\`): the training program's simulated sensor and
calibration screen on its real timers, the history writer installed as its sink, every prompt and
the record's file dialog answered at once by the suites' modal answerer; load average ${screen_load}
after them. Each gap longer than a frame is in \`fleet-screen-*.err\` with what the screen showed.
TABLE

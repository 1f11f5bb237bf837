#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The performance figures of reburn3, in one command (docs/performance.md explains them).
#
#   scripts/bench.sh [--runs N] [--quick] [--no-gui] [--build DIR] [--out FILE]
#
# From a fresh clone: installs what is missing (scripts/bootstrap.sh), builds the bench
# preset (CMakePresets.json) into build/bench, makes a 256 KiB firmware image into a script
# of 64-byte lines (each closed by one acknowledgement and a line mark), and downloads it
# with `reburn3 flash --stats` into the simulated ORX-716 on a pseudo-terminal, N times
# (default 3), reporting medians:
#   - wall time / tick bound, tick period median, p99 and maximum, CPU share, peak RSS;
#   - the same download with --reactive, and the speed-up;
#   - peak RSS of a download of a script 16 times larger (with --reactive, to be quick);
#   - the download clicked through the window (offscreen), and the window idle with its
#     port open (CPU share);
#   - the download through the window on a real X server with a window manager
#     (scripts/with_x.sh: Xvfb and JWM): CPU share of the window and of the X server;
#   - the micro-benchmarks: script check throughput on 64 MB (valid and corrupt), reader
#     per record, log post with repaint, driver put and poll per byte; peak RSS of
#     `reburn3 check` on 64 MB valid and corrupt, and of the simulator on 64 MB.
#   - the line rate: the same script against `simulate --baud 115200`, on ticks and with
#     --reactive: wall / the line-aware least time that `check --baud 115200` prints, and
#     the share of the line's own limit (the bytes both ways x 10 bits / 115200);
#   - the gang: 1, 4, 16 and 32 ports (--gang "COUNTS") in one `flash` process against as
#     many simulators, and the same N as N separate processes, side by side: each port's
#     wall / tick bound (the worst port's), CPU per port, peak RSS.
#   - the check's fault path with its SHA-256: CPU time (user + system) of `reburn3 check`
#     on a corrupt 256 MiB script (all zero bytes), the median of N, in MB/s of CPU;
#   - the station service: one round on 32 ports (--serve-ports N) by `flash --station`
#     and by `reburn3 serve` with the page's live feed open, one
#     after the other on the same simulators: the worst port's wall / tick bound of each,
#     and the CPU the service adds over the station (in % of a core, over the round);
#     then (scripts/serve_load.py) rounds on 2 ports with no load, with two clients looping
#     the heaviest GET of the records, and with 70 slow connections held: the round ratio
#     and the ticks' p99 and max under each.
#   - the service's records: 2 ports with the PostgreSQL database well and paused
#     (SIGSTOP): worst wall / tick bound and tick period p99 of each round, SIGTERM's
#     time with the database paused (scripts/serve_records_bench.py; needs
#     postgresql-15).
# --quick: a 16 KiB image, one run, short micro-benchmarks, gang 1 and 4 (a smoke run).
# --no-line-rate: leave the line rate out (it takes about 90 s a run).
# --only "PARTS": only these of cli, line, gang, serve, records, gui, check, micro (e.g. --only "line gang").
# Figures only: nothing here fails on time. Measure on an idle machine (the load average
# is printed before and after).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

runs=3
quick=0
gui=1
build=build/bench
out=""
gang_counts="1 4 16 32"
serve_ports=32
only=""
line_rate=1
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --quick) quick=1; runs=1; gang_counts="1 4"; shift ;;
        --gang) gang_counts=$2; shift 2 ;;
        --serve-ports) serve_ports=$2; shift 2 ;;
        --no-line-rate) line_rate=0; shift ;;
        --only) only=" $2 "; shift 2 ;;
        --no-gui) gui=0; shift ;;
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        -h|--help) sed -n '2,/^set /{/^#/p}' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench: unknown option $1" >&2; exit 2 ;;
    esac
done
case "$build" in /*) ;; *) build="$root/$build" ;; esac
# True when PART is to be measured.
part() { [ -z "$only" ] || [[ "$only" == *" $1 "* ]]; }
part line || line_rate=0
part gang || gang_counts=""
part serve || serve_ports=0
part gui || gui=0

scripts/bootstrap.sh
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset bench -B "$build" >/dev/null
fi
targets=(reburn3 reburn3-sim make_bench_script core_bench)
if [ "$gui" -eq 1 ]; then
    targets+=(qt_bench gui_bench)
fi
cmake --build "$build" --target "${targets[@]}" --parallel 2 >/dev/null

reburn3="$build/src/reburn3"
sim="$build/src/reburn3-sim"
. scripts/lib/simulator_cleanup.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/reburn3-bench-XXXXXX")

report="$work/report.txt"
say() { echo "$*" | tee -a "$report"; }

median() {
    sort -g | awk '{ a[NR] = $1 } END {
        if (NR == 0) { print "-"; exit }
        v = NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
        printf "%.5g\n", v }'
}
# A number from the JSON result line of `flash --json`.
field() {
    sed -n "s/.*\"$1\":\([-0-9.e+]*\).*/\1/p" "$2" | head -n 1
}
# A number from the key=value line of gui_bench.
kv() {
    sed -n "s/.* $1=\([-0-9.e+]*\).*/\1/p" "$2" | head -n 1
}

# Starts the simulated device on $1, paced at $line baud when that is set; sets $port.
line=""
start_sim() {
    local pace=()
    [ -n "$line" ] && pace=(--baud "$line")
    "$sim" "$1" --lifetime 900 "${pace[@]}" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    port=""
    for _ in $(seq 1 100); do
        port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
        [ -n "$port" ] && return 0
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "bench: the simulator did not start:" >&2
    cat "$work/sim.err" >&2
    exit 1
}
stop_sim() {
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}

# The median over the runs of a number from the JSON results $work/$2N.json.
m() { for i in $(seq 1 "$runs"); do field "$1" "$work/$2$i.json"; done | median; }

# One download; its JSON result in $work/$2.json. Extra flash options follow.
download() {
    local script=$1 name=$2
    shift 2
    start_sim "$script"
    if ! "$reburn3" flash --port "$port" --progress none --json --stats "$@" "$script" \
        >"$work/$name.all" 2>"$work/$name.err"; then
        echo "bench: the download $name failed:" >&2
        tail -n 5 "$work/$name.err" >&2
        exit 1
    fi
    tail -n 1 "$work/$name.all" >"$work/$name.json"
    stop_sim
}

kib=256
if [ "$quick" -eq 1 ]; then
    kib=16
fi
script="$work/bench.pf3"
"$build/bench/make_bench_script" "$script" "$kib" 64
big="$work/big.pf3"
"$build/bench/make_bench_script" "$big" $((kib * 16)) 64

say "reburn3 benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
say "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), kernel $(uname -r)"
say "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
say "script: ${kib} KiB image in lines of 64 T bytes + 1 R + E; $(stat -c %s "$script") bytes"
"$reburn3" check "$script" | sed -n 's/^Least time: *//p' | sed 's/^/tick bound: /' | tee -a "$report"
say "runs per figure: $runs (medians)"
say ""

# --- the command line ---------------------------------------------------------------
if part cli; then
for i in $(seq 1 "$runs"); do
    download "$script" "cli$i"
    download "$script" "reactive$i" --reactive
done
say "flash (ticks):      wall $(m wallS cli) s, ratio to the tick bound $(m ratio cli)"
say "  tick period:      median $(m periodMedianMs cli) ms, p99 $(m periodP99Ms cli) ms, max $(m periodMaxMs cli) ms"
say "  CPU:              $(m cpuShare cli) of a core during the download"
say "  peak RSS:         $(m maxRssKb cli) kB"
cli_wall=$(m wallS cli)
re_wall=$(m wallS reactive)
say "flash --reactive:   wall $re_wall s, ratio to the tick bound $(m ratio reactive), speed-up $(awk -v a="$cli_wall" -v b="$re_wall" 'BEGIN { printf "%.1f", a / b }')x"
say "  CPU:              $(m cpuShare reactive) of a core; peak RSS $(m maxRssKb reactive) kB"
download "$big" big --reactive
say "flash, script x16:  peak RSS $(field maxRssKb "$work/big.json") kB ($(stat -c %s "$big") bytes, --reactive)"
say ""
fi

# --- the line rate -----------------------------------------------------------------
# Both modes against a device paced at 115200 baud: wall / the line-aware least time that
# `check --baud` prints, and the share of the line's own limit (every byte that crossed
# it, both ways, at 10 bits a byte).
line_limit() {
    awk -v s="$(field bytesSent "$1")" -v r="$(field bytesReceived "$1")" \
        'BEGIN { printf "%.3f", (s + r) * 10 / 115200 }'
}
if [ "$line_rate" -eq 1 ]; then
    line=115200
    "$reburn3" check --baud "$line" "$script" | sed -n 's/^Least time: *\(.*\) (\([0-9]*\) ticks.*/\1 on ticks (\2 ticks),/p;
        s/^Least reactive: *\([0-9.]* s\).*/\1 with --reactive/p' | paste -sd ' ' |
        sed "s/^/least time at $line baud: /" | tee -a "$report"
    for i in $(seq 1 "$runs"); do
        download "$script" "line$i" --baud "$line"
        download "$script" "linereactive$i" --baud "$line" --reactive
    done
    for mode in line linereactive; do
        for i in $(seq 1 "$runs"); do
            awk -v l="$(line_limit "$work/$mode$i.json")" -v w="$(field wallS "$work/$mode$i.json")" \
                'BEGIN { printf "%.4f\n", l / w }'
        done | median >"$work/$mode.share"
    done
    say "flash (ticks), paced device at $line baud:    wall $(m wallS line) s, ratio to the line-aware bound $(m ratio line), share of the line's limit $(cat "$work/line.share")"
    say "flash --reactive, paced device at $line baud: wall $(m wallS linereactive) s, ratio to the line-aware bound $(m ratio linereactive), share of the line's limit $(cat "$work/linereactive.share")"
    line=""
    say ""
fi

# --- the gang ----------------------------------------------------------------------
# N simulators; their ports in $work/gang.ports, their pids in gang_pids.
gang_pids=()
start_gang_sims() {
    local n=$1 script=$2
    : >"$work/gang.ports"
    gang_pids=()
    for k in $(seq 1 "$n"); do
        "$sim" "$script" --lifetime 900 "${@:3}" >"$work/gsim$k.out" 2>/dev/null &
        gang_pids+=($!)
    done
    for k in $(seq 1 "$n"); do
        local p=""
        for _ in $(seq 1 200); do
            p=$(head -n 1 "$work/gsim$k.out" 2>/dev/null || true)
            [ -n "$p" ] && break
            sleep 0.05
        done
        echo "$p" >>"$work/gang.ports"
    done
}
stop_gang_sims() {
    for pid in "${gang_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    gang_pids=()
}
# The ratios of a file of JSON results: "worst mean".
ratios() {
    grep '"type":"result"' "$1" | sed -n 's/.*"ratio":\([-0-9.e+]*\).*/\1/p' |
        awk '{ s += $1; if ($1 > w) w = $1 } END { printf "%.4f %.4f\n", w, s / NR }'
}
if [ -n "$gang_counts" ] && [ -x /usr/bin/time ]; then
    gang_script="$work/gang.pf3"
    "$build/bench/make_bench_script" "$gang_script" $(( kib >= 64 ? 32 : kib )) 64
    say "gang: $(stat -c %s "$gang_script") bytes a port, on ticks; one process / N processes"
    for n in $gang_counts; do
        start_gang_sims "$n" "$gang_script"
        ports=()
        while read -r p; do ports+=(--port "$p"); done <"$work/gang.ports"
        /usr/bin/time -f '%M %U %S %e' -o "$work/gang$n.time" "$reburn3" flash "${ports[@]}" \
            --progress none --json --stats "$gang_script" >"$work/gang$n.all" 2>/dev/null || true
        read -r rss user sys wall <"$work/gang$n.time"
        read -r worst mean < <(ratios "$work/gang$n.all")
        stop_gang_sims
        one="ratio worst $worst, mean $mean; CPU per port $(awk -v u="$user" -v s="$sys" -v w="$wall" -v n="$n" 'BEGIN { printf "%.2f %%", 100 * (u + s) / w / n }') of a core; peak RSS $rss kB"
        # The same N as separate processes, at the same time.
        start_gang_sims "$n" "$gang_script"
        k=0
        pids=()
        while read -r p; do
            k=$((k + 1))
            /usr/bin/time -f '%M %U %S %e' -o "$work/sep$n-$k.time" "$reburn3" flash --port "$p" \
                --progress none --json --stats "$gang_script" >"$work/sep$n-$k.all" 2>/dev/null &
            pids+=($!)
        done <"$work/gang.ports"
        for pid in "${pids[@]}"; do wait "$pid" || true; done
        stop_gang_sims
        cat "$work"/sep"$n"-*.all >"$work/sep$n.all"
        read -r sworst smean < <(ratios "$work/sep$n.all")
        sep=$(cat "$work"/sep"$n"-*.time | awk -v n="$n" '{ r += $1; c += $2 + $3; if ($4 > w) w = $4 }
            END { printf "CPU per port %.2f %% of a core; RSS %.0f kB a process, %.0f kB in all", 100 * c / w / n, r / n, r }')
        say "  $n port(s), one process:  $one"
        say "  $n port(s), $n processes: ratio worst $sworst, mean $smean; $sep"
    done
    say ""
fi

# --- the station service -------------------------------------------------------------
if [ "$serve_ports" -gt 0 ] && [ -x /usr/bin/time ] && command -v curl >/dev/null; then
    serve_script="$work/serve.pf3"
    "$build/bench/make_bench_script" "$serve_script" $(( kib >= 64 ? 64 : kib )) 64
    say "serve: $serve_ports ports, $(stat -c %s "$serve_script") bytes a port, one round; flash --station / serve with the feed open (medians of $runs)"
    for i in $(seq 1 "$runs"); do
        start_gang_sims "$serve_ports" "$serve_script" --stay
        ports=()
        while read -r p; do ports+=(--port "$p"); done <"$work/gang.ports"
        # The station: one round, then the end of its input ends it.
        /usr/bin/time -f '%U %S %e' -o "$work/st$i.time" "$reburn3" flash --station "${ports[@]}" \
            --progress none --json --stats --quiet "$serve_script" </dev/null >"$work/st$i.all" 2>/dev/null || true
        read -r user sys wall <"$work/st$i.time"
        awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f\n", u + s }' >"$work/st$i.cpu"
        echo "$wall" >"$work/st$i.wall"
        ratios "$work/st$i.all" | cut -d' ' -f1 >"$work/st$i.worst"
        # The service on the same simulators, with a page's live feed open throughout.
        /usr/bin/time -f '%U %S %e' -o "$work/sv$i.time" "$reburn3" serve "${ports[@]}" \
            --listen 127.0.0.1:0 --db "sqlite:$work/serve$i.sqlite" --json --stats --quiet \
            "$serve_script" >"$work/sv$i.all" 2>"$work/sv$i.err" &
        serve_pid=$!
        url=""
        for _ in $(seq 1 200); do
            url=$(sed -n 's|.*serving on \(http://[^/]*\)/.*|\1|p' "$work/sv$i.err")
            [ -n "$url" ] && break
            sleep 0.05
        done
        curl -sN "$url/api/events" >"$work/feed$i.txt" &
        feed_pid=$!
        sleep 0.5
        # The round's end as the page learns it: a state in the feed that says it is over.
        seen=$(wc -l <"$work/feed$i.txt")
        t0=$(date +%s.%N)
        curl -s -X POST "$url/api/rounds" >/dev/null
        until tail -n +$((seen + 1)) "$work/feed$i.txt" | grep -q '"running":false'; do sleep 0.1; done
        t1=$(date +%s.%N)
        kill "$feed_pid" 2>/dev/null || true
        # The service itself, under /usr/bin/time: SIGTERM ends it cleanly.
        kill -TERM $(cat "/proc/$serve_pid/task/$serve_pid/children")
        wait "$serve_pid" "$feed_pid" 2>/dev/null || true
        stop_gang_sims
        # The whole process each, start to end, as for the station: its CPU over the
        # round's wall.
        read -r user sys _ < <(tail -n 1 "$work/sv$i.time")
        awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f\n", u + s }' >"$work/sv$i.cpu"
        awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }' >"$work/sv$i.wall"
        ratios "$work/sv$i.all" | cut -d' ' -f1 >"$work/sv$i.worst"
        awk -v a="$(cat "$work/st$i.cpu")" -v b="$(cat "$work/sv$i.cpu")" -v w="$(cat "$work/st$i.wall")" \
            'BEGIN { printf "%.3f\n", 100 * (b - a) / w }' >"$work/add$i"
        say "  run $i: flash --station worst $(cat "$work/st$i.worst"), CPU $(cat "$work/st$i.cpu") s in $(cat "$work/st$i.wall") s; serve worst $(cat "$work/sv$i.worst"), CPU $(cat "$work/sv$i.cpu") s in $(cat "$work/sv$i.wall") s; feed events $(grep -c '^event:' "$work/feed$i.txt")"
    done
    med() { for i in $(seq 1 "$runs"); do cat "$work/$1$i$2"; done | median; }
    say "  flash --station: worst port's wall / tick bound $(med st .worst), CPU $(med st .cpu) s in $(med st .wall) s"
    say "  serve (feed open): worst port's wall / tick bound $(med sv .worst), CPU $(med sv .cpu) s in $(med sv .wall) s"
    say "  the service adds $(med add "") % of a core over flash --station"
    # The ticks under HTTP load: heavy GETs of the records, and 70 slow connections.
    say "serve under load: 2 ports, $(stat -c %s "$serve_script") bytes a port, $runs rounds a load"
    python3 "$(dirname "$0")/serve_load.py" "$reburn3" "$sim" "$serve_script" --ports 2 \
        --rounds "$runs" --work "$work/load" | while read -r line; do say "  $line"; done
    say ""
fi

# --- the service's records while the database does not answer ----------------------
if part records && command -v python3 >/dev/null; then
    records_script="$work/records.pf3"
    "$build/bench/make_bench_script" "$records_script" $(( kib >= 64 ? 64 : kib )) 64
    say "records: 2 ports, $(stat -c %s "$records_script") bytes a port; a round with PostgreSQL well, one with it paused (SIGSTOP), SIGTERM while paused ($runs runs)"
    python3 scripts/serve_records_bench.py --reburn3 "$reburn3" --sim "$sim" \
        --script "$records_script" --runs "$runs" 2>&1 | sed 's/^/  /' | tee -a "$report"
    say ""
fi

# --- the window -------------------------------------------------------------------
if [ "$gui" -eq 1 ]; then
    export QT_QPA_PLATFORM=offscreen
    for i in $(seq 1 "$runs"); do
        "$build/bench/gui_bench" download "$sim" "$script" >"$work/gui$i.txt" 2>"$work/gui$i.err" || {
            echo "bench: the download through the window failed:" >&2
            tail -n 5 "$work/gui$i.err" >&2
            exit 1
        }
    done
    g() { for i in $(seq 1 "$runs"); do kv "$1" "$work/gui$i.txt"; done | median; }
    say "window download:    wall $(g wallS) s, ratio to the tick bound $(g ratio)"
    say "  tick period:      median $(g periodMedianMs) ms, p99 $(g periodP99Ms) ms, max $(g periodMaxMs) ms"
    say "  CPU:              $(g cpuShare) of a core; peak RSS $(g maxRssKb) kB"
    idle_s=10
    [ "$quick" -eq 1 ] && idle_s=2
    "$build/bench/gui_bench" idle "$sim" "$script" "$idle_s" >"$work/idle.txt" 2>/dev/null
    say "window idle, port open ($idle_s s): CPU $(kv cpuShare "$work/idle.txt") of a core"
    # The same download on a real X server, managed by JWM (exit 77: Xvfb or JWM missing).
    x_ok=1
    for i in $(seq 1 "$runs"); do
        scripts/with_x.sh "$build/bench/gui_bench" download-x "$sim" "$script" \
            >"$work/x$i.txt" 2>"$work/x$i.err" || { x_ok=0; break; }
    done
    if [ "$x_ok" -eq 1 ]; then
        gx() { for i in $(seq 1 "$runs"); do kv "$1" "$work/x$i.txt"; done | median; }
        say "window download on X (Xvfb + JWM): wall $(gx wallS) s, ratio to the tick bound $(gx ratio)"
        say "  CPU:              window $(gx cpuShare), X server $(gx xServerCpuShare), window manager $(gx wmCpuShare) of a core"
    else
        say "window download on X: not measured ($(tail -n 1 "$work/x$i.err"))"
    fi
    unset QT_QPA_PLATFORM
    say ""
fi

# --- the check's fault path, with its SHA-256 ---------------------------------------
# Every record of an all-zero script is a fault, and the script's SHA-256 is taken in the
# same pass: the CPU time of the whole command (user + system, /usr/bin/time) per byte.
if part check && [ -x /usr/bin/time ]; then
    corrupt256="$work/corrupt256.pf3"
    head -c $((256 * 1024 * 1024)) /dev/zero >"$corrupt256"
    cpus=()
    for _ in $(seq "$runs"); do
        /usr/bin/time -f '%U %S' -o "$work/check256.time" "$reburn3" check "$corrupt256" \
            >/dev/null 2>&1 || true
        read -r user sys < <(tail -n 1 "$work/check256.time")
        cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')")
    done
    cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    say "reburn3 check, corrupt 256 MiB script: CPU ${cpu} s (median of $runs: ${cpus[*]}), $(awk -v c="$cpu" 'BEGIN { printf "%.0f", 268.435456 / c }') MB/s of CPU"
    rm -f "$corrupt256"
    say ""
fi

# --- micro-benchmarks -------------------------------------------------------------
if part micro; then
min_time=0.5
[ "$quick" -eq 1 ] && min_time=0.05
bench_args=(--benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true
    --benchmark_min_time="$min_time")
# With one repetition Google Benchmark prints no aggregates: keep the plain lines.
pick='_median'
[ "$runs" -eq 1 ] && pick='^BM_'
say "micro-benchmarks (medians of $runs):"
"$build/bench/core_bench" "${bench_args[@]}" 2>/dev/null | grep -E "$pick" | tee -a "$report"
if [ "$gui" -eq 1 ]; then
    QT_QPA_PLATFORM=offscreen "$build/bench/qt_bench" "${bench_args[@]}" 2>/dev/null |
        grep -E "$pick" | tee -a "$report"
fi
if [ "$quick" -eq 0 ] && [ -x /usr/bin/time ]; then
    huge="$work/huge.pf3"
    "$build/bench/make_bench_script" "$huge" 16384 64
    /usr/bin/time -f '%M %e' -o "$work/check.time" "$reburn3" check "$huge" >/dev/null
    read -r rss secs <"$work/check.time"
    say "reburn3 check on $(stat -c %s "$huge") bytes: ${secs} s, peak RSS ${rss} kB"
    # The fault path: a corrupt script of the same size (all zero bytes, a fault in
    # every record) is refused with exit 3.
    corrupt="$work/corrupt.pf3"
    head -c "$(stat -c %s "$huge")" /dev/zero >"$corrupt"
    /usr/bin/time -f '%M %e' -o "$work/corrupt.time" "$reburn3" check "$corrupt" >/dev/null 2>&1 || true
    read -r rss secs < <(tail -n 1 "$work/corrupt.time")
    say "reburn3 check on a corrupt script (all zero bytes) of the same size: ${secs} s, peak RSS ${rss} kB"
    rm -f "$corrupt"
    # The simulated device reads the script as it plays it: its memory does not grow
    # with the script (it ends after 1 s, exit 124).
    /usr/bin/time -f '%M' -o "$work/sim.time" "$sim" "$huge" --lifetime 1 >/dev/null 2>&1 || true
    say "simulate on the same $(stat -c %s "$huge") bytes: peak RSS $(tail -n 1 "$work/sim.time") kB"
fi
fi
say ""
say "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ -n "$out" ]; then
    cp "$report" "$out"
fi

#!/usr/bin/env bash
# Start-up and idle cost of quaylet-app, against a bare tray program run the same way:
# the time until its tray item is on screen (the state is made before the item), resident
# memory once idle with no window open, CPU time over 10 idle seconds, and for the app the
# resident memory once the main window is open (asked for as a person does: starting the
# program again without a link).
# When QUAYLET_BENCH_TABLE names a file, the rows with targets are appended to it as
# tab-separated lines (row, figure, target, met), for the table that ends `make bench`.
# Runs on a private X server with a system tray, so the application takes its real path.
# Usage: bench/app-startup.sh BUILD_BIN_DIR
set -euo pipefail

bin=${1:?usage: app-startup.sh BUILD_BIN_DIR}
idle_seconds=10
runs=5

work=$(mktemp -d)
display=":$((100 + RANDOM % 400))"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

# Nothing may leave the machine: the service address is a closed loopback port, and the
# user's folders are throwaway ones.
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache
export XDG_RUNTIME_DIR=$work/runtime QUAYLET_API_URL=http://127.0.0.1:9
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

now_ms() { date +%s%3N; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

visible_windows() { xdotool search --onlyvisible --classname "^$1\$" 2>/dev/null | wc -l; }

# Prints "ready_ms rss_kib cpu_ms window_rss_kib" for one run of the program; the last is 0
# unless the second argument asks for the main window.
measure() {
    local program=$1 open_window=${2:-} start pid ready window_rss=0
    start=$(now_ms)
    "$program" >/dev/null 2>&1 &
    pid=$!
    # The tray maps the item's window once it has embedded it.
    until xdotool search --onlyvisible --classname "^$(basename "$program")\$" >/dev/null 2>&1; do
        sleep 0.002
        kill -0 "$pid" 2>/dev/null || { echo "$program exited during start-up" >&2; exit 1; }
    done
    ready=$(( $(now_ms) - start ))
    sleep 2
    local before after
    before=$(cpu_ticks "$pid")
    sleep "$idle_seconds"
    after=$(cpu_ticks "$pid")
    local idle_rss
    idle_rss=$(rss_kib "$pid")
    if [ -n "$open_window" ]; then
        local shown
        shown=$(visible_windows "$(basename "$program")")
        "$program" >/dev/null 2>&1
        until [ "$(visible_windows "$(basename "$program")")" -gt "$shown" ]; do sleep 0.01; done
        sleep 2
        window_rss=$(rss_kib "$pid")
    fi
    echo "$ready $idle_rss $(( (after - before) * 1000 / $(getconf CLK_TCK) )) $window_rss"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

report() {
    local name=$1 program=$2 open_window=${3:-} results
    results=$(for _ in $(seq "$runs"); do measure "$program" "$open_window"; done)
    ready=$(echo "$results" | awk '{ print $1 }' | median)
    rss=$(echo "$results" | awk '{ print $2 }' | median)
    cpu=$(echo "$results" | awk '{ print $3 }' | median)
    printf '%-22s ready %5d ms   idle RSS %6.1f MiB   CPU over %ds idle %4d ms\n' \
        "$name" "$ready" "$(echo "$rss / 1024" | bc -l)" "$idle_seconds" "$cpu"
    window_rss=$(echo "$results" | awk '{ print $4 }' | median)
    if [ -n "$open_window" ]; then
        printf '%-22s main window open: RSS %6.1f MiB\n' "$name" "$(echo "$window_rss / 1024" | bc -l)"
    fi
    eval "${name//-/_}_ready=$ready ${name//-/_}_rss=$rss ${name//-/_}_window_rss=$window_rss"
}

# One row with a bound in MiB: name, figure in KiB, bound in MiB.
table_row() {
    local mib met
    mib=$(echo "$2 / 1024" | bc -l)
    met=$(echo "$mib <= $3" | bc -l | sed 's/1/yes/; s/0/no/')
    printf '%s\t%.2f MiB\t<= %d MiB\t%s\n' "$1" "$mib" "$3" "$met"
}

echo "median of $runs runs each"
report tray-baseline "$bin/quaylet-tray-baseline"
report quaylet-app "$bin/quaylet-app" open-window
printf 'ratio app/baseline: ready %.2fx, idle RSS %.2fx (targets: ready <= 300 ms, no idle CPU)\n' \
    "$(echo "$quaylet_app_ready / $tray_baseline_ready" | bc -l)" \
    "$(echo "$quaylet_app_rss / $tray_baseline_rss" | bc -l)"
rows=$(table_row "quaylet-app idle in the tray (tray baseline $(printf '%.1f' "$(echo "$tray_baseline_rss / 1024" | bc -l)") MiB)" "$quaylet_app_rss" 34
       table_row "quaylet-app with the main window open" "$quaylet_app_window_rss" 60)
echo "$rows" | awk -F '\t' '{ printf "%-66s %12s %12s  %s\n", $1, $2, $3, $4 }'
if [ -n "${QUAYLET_BENCH_TABLE:-}" ]; then
    echo "$rows" >>"$QUAYLET_BENCH_TABLE"
fi

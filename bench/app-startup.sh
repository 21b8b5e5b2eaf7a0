#!/usr/bin/env bash
# Start-up and idle cost of quaylet-app, against a bare tray program run the same way:
# the time until its tray item is on screen (the state is made before the item), resident
# memory once idle with no window open, and CPU time over 10 idle seconds.
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

# Prints "ready_ms rss_kib cpu_ms" for one run of the program.
measure() {
    local program=$1 start pid ready
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
    echo "$ready $(rss_kib "$pid") $(( (after - before) * 1000 / $(getconf CLK_TCK) ))"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

report() {
    local name=$1 program=$2 results
    results=$(for _ in $(seq "$runs"); do measure "$program"; done)
    ready=$(echo "$results" | awk '{ print $1 }' | median)
    rss=$(echo "$results" | awk '{ print $2 }' | median)
    cpu=$(echo "$results" | awk '{ print $3 }' | median)
    printf '%-22s ready %5d ms   idle RSS %6.1f MiB   CPU over %ds idle %4d ms\n' \
        "$name" "$ready" "$(echo "$rss / 1024" | bc -l)" "$idle_seconds" "$cpu"
    eval "${name//-/_}_ready=$ready ${name//-/_}_rss=$rss"
}

echo "median of $runs runs each"
report tray-baseline "$bin/quaylet-tray-baseline"
report quaylet-app "$bin/quaylet-app"
printf 'ratio app/baseline: ready %.2fx, idle RSS %.2fx (targets: ready <= 300 ms, RSS <= 60 MiB, no idle CPU)\n' \
    "$(echo "$quaylet_app_ready / $tray_baseline_ready" | bc -l)" \
    "$(echo "$quaylet_app_rss / $tray_baseline_rss" | bc -l)"

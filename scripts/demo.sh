#!/usr/bin/env bash
# The main job end to end: two pull-request builds served by the loopback preview service, an
# iOS one and an Android one, open on the same road in the stand-in simulator and the stand-in
# emulator. With a display, the link is opened as the desktop opens it, by
# the graphical app in the tray with its launch panel; without one, from the terminal, first
# downloaded, then from the cache.
#
# Everything runs against throwaway state: its own settings, cache, simulator device set and
# keyring, emulator set and SDK folder, all in one temporary folder that is removed at the end, so nothing of the person
# running it is read or changed. Expects the debug build (make demo builds it).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/debug/bin"

if [ "${1:-}" != "--inside-keyring" ]; then
    work=$(mktemp -d "${TMPDIR:-/tmp}/quaylet-demo-XXXXXX")
    trap 'rm -rf "$work"' EXIT
    # The keyring is always a private one: signing in must not touch the user's own.
    "$root/scripts/with-private-keyring.sh" "$0" --inside-keyring "$work"
    exit $?
fi
work=$2

export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
export XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data"
export QUAYLET_SIMULATOR_HOME="$work/simulator"
# Android's tools are stand-ins too: an SDK folder holding them, over an emulator set of its own.
export QUAYLET_EMULATOR_HOME="$work/emulator" ANDROID_AVD_HOME="$work/emulator/avd"
export ANDROID_HOME="$work/android-sdk"
mkdir -p "$ANDROID_HOME/platform-tools" "$ANDROID_HOME/emulator"
ln -s "$bin/../libexec/quaylet/host-tools/adb" "$ANDROID_HOME/platform-tools/adb"
ln -s "$bin/../libexec/quaylet/host-tools/emulator" "$ANDROID_HOME/emulator/emulator"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "A pull request's builds, iOS and Android, uploaded to a local preview service"
"$bin/quaylet-devservice" make-demo-build "$work/builds" --preview-id pr-demo
"$bin/quaylet-devservice" make-demo-build "$work/builds" --preview-id pr-android --android

"$bin/quaylet-devservice" --builds "$work/builds" >"$work/service.log" &
service=$!
trap 'kill "$service" 2>/dev/null || true; wait "$service" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    listening=$(head -n 1 "$work/service.log")
    [ -n "$listening" ] && break
    kill -0 "$service" 2>/dev/null || { echo "demo: the preview service did not start" >&2; exit 1; }
    sleep 0.1
done
[ -n "$listening" ] || { echo "demo: the preview service did not answer in time" >&2; exit 1; }
export QUAYLET_API_URL=${listening#Listening on }
echo "$listening"

step "quaylet doctor"
"$bin/quaylet" doctor

step "quaylet sign-in --no-browser"
sign_in_page=$("$bin/quaylet" sign-in --no-browser | tail -n 1)
echo "$sign_in_page"
# The browser would follow the page to a quaylet:// link; curl stands in for it.
auth_link=$(curl --silent --output /dev/null --write-out '%{redirect_url}' "$sign_in_page")

step "quaylet open $auth_link"
"$bin/quaylet" open "$auth_link"

step "quaylet builds"
"$bin/quaylet" builds

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    step "quaylet open quaylet://preview/pr-demo (downloads the build)"
    "$bin/quaylet" open quaylet://preview/pr-demo

    step "quaylet open quaylet://preview/pr-demo (again, from the cache)"
    "$bin/quaylet" open quaylet://preview/pr-demo

    step "quaylet open quaylet://preview/pr-android (boots the emulator, installs the .apk)"
    "$bin/quaylet" open quaylet://preview/pr-android

    step "Done: the demo builds run in the stand-in simulator and the stand-in emulator"
    exit 0
fi

step "quaylet-app in the tray, made this session's handler of quaylet:// links"
# The handler is registered in the throwaway folders only; the desktop's own stays as it is.
mkdir -p "$XDG_DATA_HOME/applications"
sed "s|^Exec=quaylet-app|Exec=$bin/quaylet-app|" \
    "$root/packaging/linux/dev.quaylet.Quaylet.desktop" \
    >"$XDG_DATA_HOME/applications/dev.quaylet.Quaylet.desktop"
xdg-mime default dev.quaylet.Quaylet.desktop x-scheme-handler/quaylet
# A private runtime folder keeps this demo's app apart from any Quaylet already running.
if [ -n "${WAYLAND_DISPLAY:-}" ] && [ "${WAYLAND_DISPLAY#/}" = "$WAYLAND_DISPLAY" ]; then
    export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
fi
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
"$bin/quaylet-app" &
app=$!
trap 'kill "$app" "$service" 2>/dev/null || true; wait 2>/dev/null || true' EXIT

# Each build opens as the desktop opens a link, the next once the service has seen it run.
for build in pr-demo pr-android; do
    step "xdg-open quaylet://preview/$build (the launch panel shows each stage)"
    xdg-open "quaylet://preview/$build"
    for _ in $(seq 600); do
        curl --silent "$QUAYLET_API_URL/dev/launch-events" | grep -q "\"$build\"" && break
        kill -0 "$app" 2>/dev/null || { echo "demo: quaylet-app ended early" >&2; exit 1; }
        sleep 0.1
    done
    curl --silent "$QUAYLET_API_URL/dev/launch-events" | grep -q "\"$build\"" ||
        { echo "demo: $build did not start in time" >&2; exit 1; }
done
echo "The service saw the launches: $(curl --silent "$QUAYLET_API_URL/dev/launch-events")"

step "Done: the demo builds are running; quaylet-app stays in the tray for ${QUAYLET_DEMO_SECONDS:=20} s"
sleep "$QUAYLET_DEMO_SECONDS"

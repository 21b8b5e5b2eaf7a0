#!/usr/bin/env bash
# Runs a command inside a throwaway D-Bus session whose Secret Service is a fresh
# gnome-keyring with an unlocked "login" collection as its default. The keyring lives in a
# temporary folder that is removed afterwards, so the user's real keyring is never touched.
#
#   scripts/with-private-keyring.sh COMMAND [ARGUMENT...]
#
# The command inherits DBUS_SESSION_BUS_ADDRESS of the private bus; its exit status is the
# script's. The bus offers no service activation, so nothing can start a second keyring
# or a password prompter behind our back.
set -euo pipefail

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGUMENT...]" >&2
    exit 2
fi

if [ "$1" = "--inside-session" ]; then
    workdir=$2
    shift 2
    # The keyring keeps its files and control socket in the throwaway folder.
    printf '%s' "throwaway-password" |
        HOME="$workdir/home" XDG_DATA_HOME="$workdir/home/data" \
        XDG_CONFIG_HOME="$workdir/home/config" XDG_RUNTIME_DIR="$workdir/runtime" \
        gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null &
    keyring_pid=$!
    trap 'kill "$keyring_pid" 2>/dev/null || true; wait "$keyring_pid" 2>/dev/null || true' EXIT

    gdbus wait --session --timeout 20 org.freedesktop.secrets
    # Unlocking with a password makes the keyring create "login" as the default collection;
    # anything else would make every save fail, so say so here rather than in a test.
    default_alias=$(gdbus call --session --dest org.freedesktop.secrets \
        --object-path /org/freedesktop/secrets \
        --method org.freedesktop.Secret.Service.ReadAlias default)
    if [ "$default_alias" != "(objectpath '/org/freedesktop/secrets/collection/login',)" ]; then
        echo "with-private-keyring: the keyring has no login collection as default: $default_alias" >&2
        exit 1
    fi

    status=0
    "$@" || status=$?
    exit "$status"
fi

workdir=$(mktemp -d "${TMPDIR:-/tmp}/quaylet-keyring-XXXXXX")
trap 'rm -rf "$workdir"' EXIT
mkdir -p "$workdir/home" "$workdir/runtime"
chmod 700 "$workdir/runtime"
cat >"$workdir/bus.conf" <<'EOF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF

dbus-run-session --config-file="$workdir/bus.conf" -- "$0" --inside-session "$workdir" "$@"

#!/usr/bin/env bash
# Makes the Quaylet installed under PREFIX (default ~/.local) this user's handler of
# quaylet:// links. Each step runs only where its tool exists.
set -euo pipefail

prefix=${1:-$HOME/.local}
applications="$prefix/share/applications"

if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$applications"
fi
if command -v xdg-mime >/dev/null 2>&1; then
    xdg-mime default dev.quaylet.Quaylet.desktop x-scheme-handler/quaylet
fi
case ":$PATH:" in
    *":$prefix/bin:"*) ;;
    *) echo "register-url-handler: add $prefix/bin to your PATH so that links can start quaylet-app" >&2 ;;
esac

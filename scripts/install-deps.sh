#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with. This is
# the one list; keep it sorted. Safe to run again: it asks dpkg first and only
# touches apt when something is missing.
set -euo pipefail

packages=(
    adwaita-icon-theme
    appstream
    at-spi2-core
    bc
    clang
    clang-format
    cmake
    curl
    dbus
    desktop-file-utils
    dpkg-dev
    fonts-inter
    g++
    gcovr
    gnome-keyring
    libarchive-dev
    libarchive-tools
    libbenchmark-dev
    libclang-rt-14-dev
    libcli11-dev
    libcpp-httplib-dev
    libcurl4-openssl-dev
    libdeflate-dev
    libglib2.0-bin
    libglib2.0-dev
    libgmock-dev
    libgtest-dev
    libplist-dev
    libqt6svg6
    libsecret-1-dev
    libsimdjson-dev
    libxcb1-dev
    libssl-dev
    ninja-build
    nlohmann-json3-dev
    openssl
    pkg-config
    qml6-module-qt-labs-folderlistmodel
    qml6-module-qtqml-workerscript
    qml6-module-qtquick
    qml6-module-qtquick-controls
    qml6-module-qtquick-dialogs
    qml6-module-qtquick-layouts
    qml6-module-qtquick-templates
    qml6-module-qtquick-window
    qt6-base-dev
    qt6-declarative-dev
    trayer
    unzip
    x11-utils
    xdg-utils
    xdotool
    xvfb
    zlib1g-dev
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "install-deps: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"

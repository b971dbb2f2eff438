#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Veltrano need, when absent.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config ccache
    libicu-dev libfmt-dev libcli11-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools
    qt6-tools-dev qt6-l10n-tools   # lupdate and lrelease with their CMake functions: the window's English
    xvfb xauth fonts-wqy-microhei
    qt6-translations-l10n    # Qt's own Traditional Chinese texts for standard dialogs and buttons
    python3 python3-pyftpdlib curl iproute2
    libcrypt-dev   # crypt(3) of libxcrypt: the search server's password hashes
    clang-14 libclang-rt-14-dev libfuzzer-14-dev # the fuzz targets: clang++ with libFuzzer
    samba smbclient libsmbclient-dev   # collecting over SMB, and the smbd its tests start
    help2man dpkg-dev file desktop-file-utils appstream lintian   # the .deb, its manual pages and its checks
    ripgrep   # the search benchmark measures the kept-cache search against rg over the same names
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs what is missing, builds Veltrano, collects a demo cache from /usr/share/doc and opens
# the window on it; without a display it runs the same search on the command line instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target veltrano-cli veltrano

# The demo keeps its settings, history and cache in a folder of its own.
export VELTRANO_HOME="$PWD/demo/"
cli=build/release/tools/veltrano-cli
mkdir -p demo
if [ ! -f demo/Cache/ALL.NOD ]; then
    # The computer's name must resolve locally: the demo asks no name server.
    computer=$(hostname)
    grep -qw -- "$computer" /etc/hosts || computer=localhost
    echo "Collecting /usr/share/doc into demo/Cache as \\\\$computer\\doc ..."
    "$cli" collect --cache demo/Cache --codepage UTF-8 "\\\\$computer\\doc=/usr/share/doc"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/release/src/window/veltrano ]; then
    # COMMON.INI lives in the current folder: keep it in the demo's.
    cd demo
    exec ../build/release/src/window/veltrano "$@"
fi

echo "No display: searching the demo cache on the command line (file name contains \"readme\")."
"$cli" search --cache demo/Cache --format text name contains readme || true

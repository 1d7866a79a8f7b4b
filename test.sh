#!/usr/bin/env bash
# Installs what is missing (as root), builds everything and runs the whole suite through CTest.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh
kdr_setup
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/kdr-xdg.XXXXXX)}"
chmod 700 "$XDG_RUNTIME_DIR"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"

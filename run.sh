#!/usr/bin/env bash
# Installs what is missing (as root), builds a release into the portable folder dist/KDR02 and starts
# the program. Extra arguments are ignored by the program.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh
kdr_setup
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKDR_BUILD_TESTS=OFF -DKDR_BUILD_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)"
mkdir -p dist/KDR02
for f in KDR02.x64 tools/kdrctl/kdrctl tools/kdrsim/kdrsim; do
  [ -f "build-release/src/$f" ] && cp -f "build-release/src/$f" dist/KDR02/ 2>/dev/null || true
  [ -f "build-release/$f" ] && cp -f "build-release/$f" dist/KDR02/ || true
done
echo "Program folder: $(pwd)/dist/KDR02"
exec dist/KDR02/KDR02.x64 "$@"

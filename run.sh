#!/usr/bin/env bash
# Installs what is missing (as root), builds a release into the portable folder dist/KDR02 and starts
# the program.
#   ./run.sh         the program
#   ./run.sh --sim   the program with the bus simulator on a pseudo-terminal (two readers), for
#                    trying the tool without hardware: choose /tmp/kdr02-sim in "Select COM Port"
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh
kdr_setup
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKDR_BUILD_TESTS=OFF -DKDR_BUILD_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)"
dist=dist/KDR02
mkdir -p "$dist"
cp -f build-release/src/KDR02.x64 build-release/tools/kdrctl/kdrctl build-release/tools/kdrsim/kdrsim "$dist/"
echo "Program folder: $(pwd)/$dist"

if [ "${1:-}" = "--sim" ]; then
  link=/tmp/kdr02-sim
  ini="$dist/KDR02.x64.ini"
  # The simulator's readers get data files, and its port joins the port list.
  [ -f "$dist/74565.vtd" ] || "$dist/kdrctl" vtd new "$dist/74565.vtd" --serial 74565
  [ -f "$dist/5555.vtd" ] || "$dist/kdrctl" vtd new "$dist/5555.vtd" --serial 5555 --slots 4000
  if [ ! -f "$ini" ]; then
    printf '[ProgSett]\r\naExtraPorts=%s\r\naLastPort=%s\r\n' "$link" "$link" > "$ini"
  elif ! grep -q "aExtraPorts=.*$link" "$ini"; then
    echo "Add $link to aExtraPorts in section [ProgSett] of $ini to see the simulator's port." >&2
  fi
  "$dist/kdrsim" --bus hlx --reader 74565:2000:2.0.12 --reader 5555:4000:2.0.12 --pty-link "$link" &
  sim=$!
  trap 'kill $sim 2>/dev/null || true' EXIT
  for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e "$link" ] && break; sleep 0.2; done
  "$dist/KDR02.x64"
  exit $?
fi
exec "$dist/KDR02.x64"

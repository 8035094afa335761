#!/usr/bin/env bash
# Builds the terminal and starts it on its embedded default: the drive simulator on a
# pseudo-terminal, reached as COM1.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S . -B build/release "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_BUILD_TESTS=OFF
cmake --build build/release -j "$(nproc)"
if [ ! -x build/release/vx310-terminal ]; then
  echo "The terminal's windows are not built yet; only the engine and its tests exist." >&2
  exit 1
fi
exec build/release/vx310-terminal "$@"

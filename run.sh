#!/usr/bin/env bash
# Builds the terminal and starts it on its embedded default: the drive simulator on a
# pseudo-terminal, reached as COM1. Arguments go to the simulator (for example
# ./run.sh --fault ActFault2:7 to start with a fault). The simulator stops when the
# terminal ends.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
scripts/ensure-deps.sh
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S . -B build/release "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_BUILD_TESTS=OFF
cmake --build build/release --target vx310-terminal vx310-sim
terminal="$root/build/release/vx310-terminal"
sim="$root/build/release/sim/vx310-sim"

# The working folder is the terminal's start directory: the data models, its settings
# file and the simulator's EEPROM live there between runs.
work="${VX310_WORKDIR:-$root/build/release/run}"
mkdir -p "$work"
work=$(cd "$work" && pwd)
cp -f models/*.par "$work/"
link="$work/vx310-com1"
ini="$work/VX310_ConfigTerm.ini"
# Keep what the terminal stored (window positions, port, address); only COM1 is ours.
if [ -f "$ini" ]; then
  awk 'BEGIN { skip = 0 }
       /^[ \t]*\[/ { skip = ($0 ~ /^[ \t]*\[[ \t]*[Pp][Oo][Rr][Tt][Ss][ \t]*\][ \t\r]*$/) }
       !skip { print }' "$ini" > "$ini.tmp"
else
  : > "$ini.tmp"
fi
printf '[Ports]\r\nCOM1=%s\r\n' "$link" >> "$ini.tmp"
# The about window's texts, as the package ships them, unless the engineer wrote his own.
if ! grep -qi '^[[:space:]]*\[AboutForm\]' "$ini.tmp"; then
  sed -n '/^\[AboutForm\]/,$p' packaging/VX310_ConfigTerm.ini >> "$ini.tmp"
fi
mv -f "$ini.tmp" "$ini"

log="$work/vx310-sim.log"
"$sim" --pty "$link" --state "$work/vx310.eeprom" "$@" > "$log" 2>&1 &
sim_pid=$!
stop_sim() {
  if kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT
# The simulator names its line once it serves it.
for _ in $(seq 100); do
  grep -q '^listening on' "$log" 2>/dev/null && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "The drive simulator did not start:" >&2
    cat "$log" >&2
    exit 1
  fi
  sleep 0.1
done
if ! grep -q '^listening on' "$log"; then
  echo "The drive simulator did not get ready; its log: $log" >&2
  exit 1
fi
echo "Drive simulator on COM1 ($link); terminal started in $work"
cd "$work"
status=0
"$terminal" || status=$?
exit "$status"

#!/usr/bin/env bash
# Builds the Debian package from a build folder, checks its file list and dependencies,
# unpacks it and starts the unpacked terminal offscreen from an empty folder: it must
# find the data model shipped beside it. Usage: package_test.sh BUILD_DIR [vx310ctl]
set -euo pipefail
build=$(cd "$1" && pwd)
with_ctl=${2:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" > "$tmp/cpack.log" 2>&1) ||
  { cat "$tmp/cpack.log" >&2; fail "cpack did not build the package"; }
deb=$(ls "$tmp"/out/vx310-terminal_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no vx310-terminal_*.deb in $(ls "$tmp/out")"
echo "package: $(basename "$deb") $(stat -c %s "$deb") bytes"

dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./|/|' | grep -v '/$' | sort > "$tmp/files"
expected=(
  /usr/bin/vx310-terminal
  /usr/bin/vx310-sim
  /usr/share/vx310/models/VX310v220.par
  /usr/share/vx310/VX310_ConfigTerm.ini
  /usr/share/applications/vx310-terminal.desktop
  /usr/share/icons/hicolor/scalable/apps/vx310-terminal.svg
  /usr/share/icons/hicolor/16x16/apps/vx310-terminal.png
  /usr/share/icons/hicolor/48x48/apps/vx310-terminal.png
  /usr/share/icons/hicolor/256x256/apps/vx310-terminal.png
  /usr/share/man/man1/vx310-terminal.1.gz
  /usr/share/man/man1/vx310-sim.1.gz
)
if [ "$with_ctl" = vx310ctl ]; then
  expected+=(/usr/bin/vx310ctl /usr/share/man/man1/vx310ctl.1.gz)
fi
for f in "${expected[@]}"; do
  grep -qxF "$f" "$tmp/files" || { cat "$tmp/files" >&2; fail "package lacks $f"; }
done
# Nothing of the build leaks in: tests, benchmarks, static libraries, headers.
if grep -E '_tests$|bench|\.a$|\.h$|/include/' "$tmp/files"; then fail "package holds build files"; fi

info=$(dpkg-deb -f "$deb" Package Depends Architecture)
echo "$info"
grep -q '^Package: vx310-terminal$' <<<"$info" || fail "package name"
grep -q '^Depends:.*libqt6widgets6' <<<"$info" || fail "Depends lacks the Qt widgets library"
grep -q '^Depends:.*libc6' <<<"$info" || fail "Depends lacks the C library"

dpkg -x "$deb" "$tmp/root"
mkdir -p "$tmp/home" "$tmp/work"
# An empty start folder and an empty home: the terminal must take the models it ships.
out=$(cd "$tmp/work" && HOME="$tmp/home" XDG_DATA_HOME= QT_QPA_PLATFORM=offscreen \
      "$tmp/root/usr/bin/vx310-terminal" --supported-devices 2>"$tmp/terminal.err") ||
  { cat "$tmp/terminal.err" >&2; fail "the unpacked terminal did not start or found no data model"; }
echo "$out"
grep -qxF "Searching path: $tmp/root/usr/share/vx310/models/" <<<"$out" ||
  fail "the terminal did not search the models shipped beside it"
grep -qE '^VX310v220\.par +=VX310v2' <<<"$out" || fail "the shipped data model is not listed"

"$tmp/root/usr/bin/vx310-sim" --help > "$tmp/sim.txt" || fail "vx310-sim --help"
grep -qF "$tmp/root/usr/share/vx310/models/VX310v220.par" "$tmp/sim.txt" ||
  fail "the unpacked simulator does not default to the model shipped beside it"
echo "package test passed"

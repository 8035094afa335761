#!/usr/bin/env bash
# Installs with apt-get whatever of the build and test dependencies is missing.
set -euo pipefail
pkgs=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev
      qt6-base-dev qt6-svg-dev libgl-dev libmodbus-dev mbpoll socat xvfb xauth
      clang libclang-rt-dev lld ccache dpkg-dev file)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing missing packages: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

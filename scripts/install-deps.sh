#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need: Qt 6
# Widgets and xcb for the settings window; Xvfb, trayer (a notification area)
# and ImageMagick for its tests and screenshots.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libkissfft-dev libsndfile1-dev libmysofa-dev libasound2-dev
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  qt6-base-dev qt6-qpa-plugins libxcb1-dev
  xvfb xauth trayer imagemagick fonts-dejavu-core
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

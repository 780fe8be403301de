#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need: Qt 6
# Widgets and xcb for the settings window; Xvfb, trayer (a notification area)
# and ImageMagick for its tests and screenshots; the mingw-w64 cross compilers
# and Wine for the Windows builds and their tests. It also enables the source
# entries (deb-src) of the configured Debian archive: the Windows tests build
# KISS FFT, their reference transform, from Debian's source package of it.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libkissfft-dev libsndfile1-dev libmysofa-dev libasound2-dev
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  qt6-base-dev qt6-qpa-plugins libxcb1-dev
  xvfb xauth trayer imagemagick fonts-dejavu-core
  # The Windows builds: mingw-w64 cross compilers, and Wine for the tests.
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine64 wine
)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Source entries: deb822 files gain "deb-src" beside "deb" in their Types, and
# one-line lists a deb-src line for each deb line of a Debian archive.
sources_changed=0
if ! apt-cache showsrc kissfft 2>/dev/null | grep -q '^Package: kissfft'; then
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    if grep -q '^URIs:.*debian' "$f" && grep -q '^Types: deb$' "$f"; then
      $sudo sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
      sources_changed=1
    fi
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    if grep -qE '^deb [^#]*debian' "$f" && ! grep -qE '^deb-src ' "$f"; then
      grep -E '^deb [^#]*debian' "$f" | sed 's/^deb /deb-src /' | $sudo tee -a "$f" >/dev/null
      sources_changed=1
    fi
  done
fi

if ((${#missing[@]})) || ((sources_changed)); then
  $sudo apt-get update -qq
fi
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

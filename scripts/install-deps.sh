#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the player need.
# This is the only place the package list lives. Quiet, and a no-op when
# everything is already present.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libsdl2-dev libepoxy-dev libgl1-mesa-dri libegl-mesa0 libgl1-mesa-dev
  libopenal-dev libopenal1 libsndfile1-dev
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libfreetype-dev
  libgtest-dev googletest libbenchmark-dev
  fonts-dejavu-core lua5.4
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

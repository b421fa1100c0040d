#!/usr/bin/env bash
# Installs the Debian 12 packages Tarnwick needs to build, run and test, when missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang clang-format
  libicu-dev libboost-dev nlohmann-json3-dev libcli11-dev libsodium-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation xvfb xauth
  # the checks of the desktop entry, the file type, the metainfo and the manual pages
  desktop-file-utils appstream mandoc shared-mime-info libglib2.0-bin
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

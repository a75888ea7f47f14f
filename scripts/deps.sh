#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; runs apt-get
# update once, and only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git zip
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libqt6uitools6 libqt6printsupport6 libgl-dev
  libplist-dev libzip-dev libimobiledevice-dev libsqlite3-dev sqlite3 libssl-dev openssl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdg-utils
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

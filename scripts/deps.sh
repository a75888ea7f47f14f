#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need.
# Idempotent: asks apt only when something is missing, and then runs
# "apt-get update" once before installing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git zip clang-format
  # GUI toolkit (Widgets, UiTools, PrintSupport, Network, Test) and a font for offscreen runs
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libqt6uitools6 libqt6printsupport6 libqt6opengl6-dev libgl-dev fonts-dejavu-core
  # engine libraries
  libplist-dev libzip-dev libimobiledevice-dev libusbmuxd-dev libsqlite3-dev sqlite3 libssl-dev openssl
  # the simulated phone (tools/simphone) and the real backup helper its tests drive
  libimobiledevice-utils python3
  # gzip-packed note bodies of the Notes store
  zlib1g-dev
  # HEIC pictures in the preview pane (Debian 12's libheif1 carries its HEVC decoder, libde265)
  libheif-dev
  # tests, benchmarks, fuzzing (clang with the sanitizer runtimes)
  libgtest-dev libgmock-dev googletest libbenchmark-dev clang libclang-rt-14-dev
  # running the program: virtual display, default-program opener
  xvfb xauth xdg-utils
  # the real-window check: finding the window and taking screenshots on the virtual display
  xdotool imagemagick
  # rendering the report pages in a real browser (scripts/render-reports and its test; large)
  chromium
  # the media players beside the program (Player, Player1) hand the preview's sound and video to mpv
  mpv
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  as_root=()
  if [ "$(id -u)" != 0 ]; then as_root=(sudo); fi
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

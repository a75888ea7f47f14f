#!/usr/bin/env bash
# Configures and builds one build folder with the project's standard options.
#   scripts/configure.sh normal     build/           warnings as errors, GUI, optimised with debug info
#   scripts/configure.sh sanitize   build-sanitize/  ASan + UBSan, engine and command line (no GUI)
# Shared by scripts/run and scripts/test so that both use the same build folder
# and never rebuild each other's work.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-normal}
jobs=$(nproc)
case "$mode" in
  normal)
    build=build
    options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVYN_WERROR=ON)
    ;;
  sanitize)
    build=build-sanitize
    options=(-DCMAKE_BUILD_TYPE=Debug -DCORVYN_WERROR=ON -DCORVYN_SANITIZE=ON -DCORVYN_BUILD_GUI=OFF
             -DCORVYN_BUILD_BENCH=OFF)
    ;;
  *)
    echo "usage: $0 [normal|sanitize]" >&2
    exit 2
    ;;
esac

# A compiler cache, when the machine has one, makes rebuilds of other checkouts cheap.
if command -v ccache >/dev/null 2>&1; then
  options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

cmake -S . -B "$build" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

#!/bin/bash
# Configures and builds the trees under build/: build/win (the 32-bit
# Windows program, its tests and benchmarks), build/native (the portable
# parts under ASan and UBSan) and build/fuzz (the parsers' libFuzzer targets,
# clang with ASan and UBSan). Incremental: fast when nothing changed.
# Usage: build.sh [all|win|native|fuzz]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${RT_JOBS:-$(nproc)}
what=${1:-all}

configure() {  # dir, extra cmake args...
  local dir=$1
  shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" "$@" >/dev/null
  fi
}

# Progress lines are dropped; the build's own status decides (a grep that
# finds nothing left to print is no failure).
build() {
  cmake --build "$1" -j "$jobs" -- --no-print-directory |
    { grep -vE '^\[ *[0-9]+%\] (Building|Linking|Built)' || true; }
}

if [ "$what" = all ] || [ "$what" = win ]; then
  configure "$root/build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
  build "$root/build/win" || exit 1
fi
if [ "$what" = all ] || [ "$what" = native ]; then
  configure "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON
  build "$root/build/native" || exit 1
fi
if [ "$what" = all ] || [ "$what" = fuzz ]; then
  CC=clang-14 CXX=clang++-14 configure "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRT_FUZZ=ON
  build "$root/build/fuzz" || exit 1
fi

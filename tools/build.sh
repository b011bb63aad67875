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

if [ "$what" = all ] || [ "$what" = win ]; then
  configure "$root/build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$root/build/win" -j "$jobs" -- --no-print-directory | grep -vE '^\[ *[0-9]+%\] (Building|Linking|Built)' || true
  [ "${PIPESTATUS[0]}" = 0 ] || exit 1
fi
if [ "$what" = all ] || [ "$what" = native ]; then
  configure "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON
  cmake --build "$root/build/native" -j "$jobs" -- --no-print-directory | grep -vE '^\[ *[0-9]+%\] (Building|Linking|Built)' || true
  [ "${PIPESTATUS[0]}" = 0 ] || exit 1
fi
if [ "$what" = all ] || [ "$what" = fuzz ]; then
  CC=clang-14 CXX=clang++-14 configure "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRT_FUZZ=ON
  cmake --build "$root/build/fuzz" -j "$jobs" -- --no-print-directory | grep -vE '^\[ *[0-9]+%\] (Building|Linking|Built)' || true
  [ "${PIPESTATUS[0]}" = 0 ] || exit 1
fi

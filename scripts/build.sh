#!/usr/bin/env bash
# Configures and builds one build tree. Usage: scripts/build.sh [release|asan|fuzz]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
case "$kind" in
  release) dir=$root/build/release; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) dir=$root/build/asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DVISTREL_SANITIZE=ON -DVISTREL_BUILD_BENCH=OFF -DVISTREL_LAB_PROGRAMS=OFF) ;;
  # clang tree for the libFuzzer targets only
  fuzz) dir=$root/build/fuzz; target=fuzz_all
        flags=(-DCMAKE_BUILD_TYPE=Debug -DVISTREL_FUZZ=ON -DVISTREL_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "build.sh: unknown build kind '$kind'" >&2; exit 2 ;;
esac
export CCACHE_DIR=${CCACHE_DIR:-$root/build/.ccache}
cmake -S "$root" -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" ${target:+--target "$target"}

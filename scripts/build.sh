#!/usr/bin/env bash
# Configures and builds one or both architectures into build/<arch>.
# Usage: build.sh [i686|x86_64]...   (default: both)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
archs=("$@")
[ ${#archs[@]} -eq 0 ] && archs=(i686 x86_64)
for arch in "${archs[@]}"; do
    cmake -S "$root" -B "$root/build/$arch" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build/$arch" -j"$(nproc)"
done

#!/usr/bin/env bash
# Measures the frame path and the filter in Wine's filter graph and prints the
# figures beside their targets (PASS/SHORT). Builds the 32-bit module first.
# Usage: benchmark.sh [briscabench options: --quick, --seconds N, --no-graph]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" >/dev/null
. "$root/scripts/wine-common.sh"
arch=i686
if ! quillon_host_runs_32bit; then
    quillon_explain_no_32bit
    echo "benchmark: measuring the 64-bit module instead" >&2
    arch=x86_64
fi
build="$root/build/$arch"
"$root/scripts/build.sh" "$arch" >/dev/null

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
    "$(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(quillon_wine --version)"
cd "$build/bin"
exec "$build/wine-run" briscabench.exe "$@"

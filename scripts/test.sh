#!/usr/bin/env bash
# The whole check in one command: installs what is missing, builds the 32-bit
# and the 64-bit module, and runs every test of both under Wine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" i686 x86_64

. "$root/scripts/wine-common.sh"

# The long variants of the stress tests run too (about a minute more).
export QUILLON_LONG_TESTS="${QUILLON_LONG_TESTS:-1}"

status=0
for arch in i686 x86_64; do
    if [ "$arch" = i686 ] && ! quillon_host_runs_32bit; then
        echo "== tests: $arch skipped (built, not run)"
        quillon_explain_no_32bit
        continue
    fi
    echo "== tests: $arch"
    ctest --test-dir "$root/build/$arch" --output-on-failure --timeout 900 || status=1
done
exit $status

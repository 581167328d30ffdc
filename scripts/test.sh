#!/usr/bin/env bash
# The whole check in one command: installs what is missing, builds the 32-bit
# and the 64-bit module, and runs every test of both under Wine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" i686 x86_64

status=0
for arch in i686 x86_64; do
    echo "== tests: $arch"
    ctest --test-dir "$root/build/$arch" --output-on-failure --timeout 900 || status=1
done
exit $status

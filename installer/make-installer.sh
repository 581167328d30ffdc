#!/usr/bin/env bash
# Makes the Windows installer from the 32-bit and the 64-bit build with
# makensis. Skips, and says why, when either build or makensis is missing;
# does nothing when the installer is newer than everything it holds.
# Usage: make-installer.sh VERSION I686_BIN X86_64_BIN OUT_FILE
set -euo pipefail
if [ $# -ne 4 ]; then
    echo "usage: $0 VERSION I686_BIN X86_64_BIN OUT_FILE" >&2
    exit 2
fi
version="$1"
i686_bin="$2"
x86_64_bin="$3"
out_file="$4"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"

inputs=("$here/BriscaCamera.nsi" "$here/make-installer.sh" "$root/README.md")
for bin in "$i686_bin" "$x86_64_bin"; do
    for file in QuillonFilter.dll QuillonSDK.dll briscacap.exe; do
        if [ ! -f "$bin/$file" ]; then
            echo "installer: skipped: $bin/$file is missing; the installer holds the 32-bit and the 64-bit" \
                "build (scripts/build.sh i686 x86_64 builds both)"
            exit 0
        fi
        inputs+=("$bin/$file")
    done
done
if ! command -v makensis >/dev/null; then
    echo "installer: skipped: makensis is missing (Debian's nsis package; scripts/setup.sh installs it)"
    exit 0
fi

if [ -f "$out_file" ] && [ -z "$(find "${inputs[@]}" -newer "$out_file")" ]; then
    exit 0
fi

mkdir -p "$(dirname "$out_file")"
rm -f "$out_file"
makensis -V2 -NOCD \
    "-DVERSION=$version" "-DI686_BIN=$i686_bin" "-DX86_64_BIN=$x86_64_bin" \
    "-DREADME=$root/README.md" "-DOUTFILE=$out_file" \
    "$here/BriscaCamera.nsi"
echo "installer: $out_file ($(($(stat -c %s "$out_file") / 1024)) KiB)"

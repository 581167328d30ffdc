#!/usr/bin/env bash
# The product at work in one command: installs what is missing, builds the
# 32-bit module, registers it in the build tree's Wine prefix and streams a
# few seconds from the simulated camera through both pins, with a short AVI
# recording and a PNG snapshot, then prints the summary.
# Usage: main-job.sh [SECONDS]   (default 5)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-5}"
out="$root/build/main-job"

"$root/scripts/setup.sh"
. "$root/scripts/wine-common.sh"
arch=i686
if ! quillon_host_runs_32bit; then
    quillon_explain_no_32bit
    echo "main job: running the 64-bit module instead" >&2
    arch=x86_64
fi
build="$root/build/$arch"
"$root/scripts/build.sh" "$arch"

mkdir -p "$out"
rm -f "$out/capture.avi" "$out/snapshot.png"
windows_path() { echo "Z:${1//\//\\}"; }

cd "$build/bin"
echo "== registering QuillonFilter.dll"
"$build/wine-run" regsvr32 /s QuillonFilter.dll
echo "== video input devices"
"$build/wine-run" briscacap.exe list
echo "== the camera"
"$build/wine-run" briscacap.exe info
echo "== streaming for $seconds s"
"$build/wine-run" briscacap.exe stream --seconds "$seconds" \
    --avi "$(windows_path "$out/capture.avi")" --snapshot "$(windows_path "$out/snapshot.png")"

echo "== results"
ls -l "$out/capture.avi" "$out/snapshot.png"
if command -v ffprobe >/dev/null; then
    ffprobe -v error -select_streams v:0 -count_frames \
        -show_entries stream=codec_name,width,height,bits_per_coded_sample,nb_read_frames \
        -of default=noprint_wrappers=1 "$out/capture.avi"
fi

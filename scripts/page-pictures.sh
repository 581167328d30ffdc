#!/usr/bin/env bash
# Saves a picture of each property page as the platform's property frame shows
# it: docs/images/camera-settings-page.png and docs/images/format-page.png.
# Usage: page-pictures.sh [BUILD_DIR]   (default build/i686; build it first)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/i686}" && pwd)"
out="$root/docs/images"
program="$build/bin/pageshots.exe"
[ -f "$program" ] && [ -f "$build/bin/QuillonFilter.dll" ] || { echo "build $build first (pageshots, QuillonFilter)" >&2; exit 2; }
command -v xwd >/dev/null && command -v convert >/dev/null || { echo "needs xwd and ImageMagick's convert" >&2; exit 2; }

# Use the build tree's display session; end it afterwards only if it was started here.
session_dir="$build/wine-session"
started=""
if [ ! -f "$session_dir/display" ]; then started=yes; fi
"$root/scripts/wine-session.sh" start "$build" >/dev/null
display="$(cat "$session_dir/display")"
work="$(mktemp -d)"
cleanup() {
    rm -rf "$work"
    if [ -n "$started" ]; then "$root/scripts/wine-session.sh" stop "$build"; fi
}
trap cleanup EXIT

mkdir -p "$out"
for page in settings format; do
    case "$page" in
    settings) picture="$out/camera-settings-page.png" ;;
    format) picture="$out/format-page.png" ;;
    esac
    ready="$work/ready"
    rm -f "$ready"
    (cd "$work" && DISPLAY="$display" "$build/wine-run" "$program" "$page" ready) &
    shower=$!
    for _ in $(seq 1 600); do
        [ -f "$ready" ] && break
        kill -0 "$shower" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -f "$ready" ]; then
        echo "the $page page did not show" >&2
        wait "$shower" || true
        exit 1
    fi
    read -r left top width height <"$ready"
    xwd -root -display "$display" -silent | convert xwd:- -crop "${width}x${height}+${left}+${top}" +repage "$picture"
    rm -f "$ready"
    wait "$shower"
    echo "$picture (${width}x${height})"
done

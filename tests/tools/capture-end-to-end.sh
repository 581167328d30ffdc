#!/usr/bin/env bash
# The capture tool as a user meets it, under Wine: register the module, list
# the devices, inspect and change a setting, stream with a short recording and
# a snapshot, check the files on this side, then see the errors a user gets.
# Usage: capture-end-to-end.sh BUILD_DIR
set -u
build_dir="$(cd "$1" && pwd)"
bin="$build_dir/bin"
run="$build_dir/wine-run"
work="$build_dir/tool-test"
rm -rf "$work"
mkdir -p "$work"
failures=0
checks=0

check() {  # check DESCRIPTION COMMAND...
    local description="$1"
    shift
    checks=$((checks + 1))
    if "$@"; then
        echo "ok: $description"
    else
        echo "FAILED: $description"
        failures=$((failures + 1))
    fi
}

tool() {  # tool ARGS... : output in $work/out.txt, exit code in $status
    (cd "$bin" && "$run" briscacap.exe "$@") >"$work/out.txt" 2>&1
    status=$?
    sed 's/^/    | /' "$work/out.txt"
}

windows_path() { echo "Z:${1//\//\\}"; }
contains() { grep -q -- "$1" "$work/out.txt"; }

(cd "$bin" && "$run" regsvr32 /s QuillonFilter.dll)
check "regsvr32 registers the module" test $? -eq 0

tool list
check "list names the camera" contains "Brisca Camera"

tool info
check "info succeeds" test "$status" -eq 0
check "info shows the full-size format" contains "3032 x 2016"
check "info shows the settings" contains "gamma"

# The camera answers for its own settings; the resolution index is kept in
# the settings file and so survives from one run to the next.
tool set gamma 77
check "set gamma succeeds" test "$status" -eq 0
check "the camera takes the new gamma" contains "gamma = 77"
tool set gamma 300
check "an out-of-range value is refused" test "$status" -eq 1
tool set resolution 2
check "set resolution succeeds" test "$status" -eq 0
tool info
check "the resolution index is kept" test "$(awk '$1 == "resolution" {print $2}' "$work/out.txt")" = "2"
tool --resolution 0
check "--resolution alone sets the index" test "$status" -eq 0
tool info
check "the index is back at 0" test "$(awk '$1 == "resolution" {print $2}' "$work/out.txt")" = "0"

# The standard camera controls, read and set the way a capture program does.
tool controls
check "controls lists brightness with its range and default" \
    grep -Eq "brightness +40 to +200 \(step 1\) +default +100" "$work/out.txt"
check "controls lists the exposure in log2 seconds, auto or manual" \
    grep -Eq "exposure +-14 to +-1 .*\(can be auto/manual\)" "$work/out.txt"
check "controls says which properties the camera lacks" grep -Eq "hue +not supported" "$work/out.txt"
tool control brightness 150
check "control sets the brightness" contains "brightness = 150 (manual)"
tool control exposure -6
check "control sets the exposure by hand" contains "exposure = -6 (manual)"
tool control brightness 300
check "an out-of-range control value is refused" test "$status" -eq 1
tool control hue 5
check "a control the camera lacks is refused" test "$status" -eq 1

avi="$work/recording.avi"
png="$work/snapshot.png"
frames=5
tool stream --seconds 3 --avi "$(windows_path "$avi")" --avi-frames $frames --snapshot "$(windows_path "$png")"
check "stream succeeds" test "$status" -eq 0
check "stream prints a summary" contains "Summary"
check "stream says what size it streams" contains "capture 3032 x 2016, 24-bit RGB, 30.0 frames/s"

probe="$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,pix_fmt,nb_read_frames -of default=nw=1 "$avi" 2>&1)"
echo "$probe" | sed 's/^/    ffprobe | /'
check "ffprobe reads 3032 wide" grep -qx "width=3032" <<<"$probe"
check "ffprobe reads 2016 high" grep -qx "height=2016" <<<"$probe"
check "ffprobe reads 24-bit BGR" grep -qx "pix_fmt=bgr24" <<<"$probe"
check "ffprobe counts the recorded frames" grep -qx "nb_read_frames=$frames" <<<"$probe"

# The snapshot: upright with the bars white, yellow, cyan, green, magenta,
# red, blue from left to right in the upper part.
ffmpeg -v error -y -i "$png" -f rawvideo -pix_fmt rgb24 "$work/snapshot.rgb"
check "the snapshot decodes" test -s "$work/snapshot.rgb"
check "the snapshot shows the bars upright in true colours" python3 - "$work/snapshot.rgb" <<'PY'
import sys
width, height = 3032, 2016
data = open(sys.argv[1], "rb").read()
if len(data) != width * height * 3:
    sys.exit("size %d" % len(data))
def pixel(x, y):
    i = (y * width + x) * 3
    return tuple(data[i:i + 3])
expected = [(1, 1, 1), (1, 1, 0), (0, 1, 1), (0, 1, 0), (1, 0, 1), (1, 0, 0), (0, 0, 1)]
for row in (height // 10, height // 3):
    for bar, colour in enumerate(expected):
        x = (2 * bar + 1) * width // 14
        seen = pixel(x, row)
        levels = tuple(1 if c >= 128 else 0 for c in seen)
        if levels != colour or any(64 < c < 160 for c in seen):
            sys.exit("bar %d at row %d is %s, expected %s" % (bar, row, seen, colour))
# Below the bars the picture is no longer barred: a flipped picture would
# show the bars here instead.
if pixel(width // 14, height - 5) == pixel(width // 14, height // 10):
    sys.exit("the bottom rows look like the bars: the picture is upside down")
PY

# A smaller resolution at a slower rate is what the camera streams and
# records; the recording runs at that rate and lasts as long as it took.
small="$work/small.avi"
tool stream --resolution 3 --fps 15 --seconds 6 --avi "$(windows_path "$small")" --avi-frames 60 --preview null
check "a stream at resolution 3, 15 frames/s succeeds" test "$status" -eq 0
check "it says it streams 800 x 600 at 15 frames/s" contains "capture 800 x 600, 24-bit RGB, 15.0 frames/s"
probe="$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=width,height,r_frame_rate,nb_read_frames -of default=nw=1 "$small" 2>&1)"
echo "$probe" | sed 's/^/    ffprobe | /'
check "the small recording is 800 wide" grep -qx "width=800" <<<"$probe"
check "the small recording is 600 high" grep -qx "height=600" <<<"$probe"
check "the small recording plays at 15 frames/s" grep -qx "r_frame_rate=15/1" <<<"$probe"
check "the small recording holds its 60 frames (4 s)" grep -qx "nb_read_frames=60" <<<"$probe"
tool --resolution 0

tool info --device "No Such Camera"
check "a missing device is a clear error" test "$status" -eq 2
check "the error names the device" contains "No Such Camera"
tool stream --seconds 1 --avi 'Z:\no\such\folder\x.avi'
check "an unwritable recording is refused before streaming" test "$status" -eq 4

# Wine has no virtual camera API (Windows 11 build 22000 and later have it): each
# vcam command says so and ends with its own exit code, 5.
for command in "vcam status" "vcam add --all-users" "vcam remove --all-users"; do
    # shellcheck disable=SC2086
    tool $command
    check "$command without the platform's virtual cameras exits with 5" test "$status" -eq 5
    check "$command names what is missing" contains "Windows 11 build 22000"
done

(cd "$bin" && "$run" regsvr32 /s /u QuillonFilter.dll)
check "regsvr32 /u unregisters the module" test $? -eq 0
tool list
check "the camera is no longer listed" test "$(grep -c 'Brisca Camera' "$work/out.txt")" -eq 0
tool stream --seconds 1
check "streaming an unregistered camera is a clear error" test "$status" -eq 2
check "the error tells how to register" contains "regsvr32"

(cd "$bin" && "$run" regsvr32 /s QuillonFilter.dll)
check "the module is registered again" test $? -eq 0

echo "$((checks - failures)) passed, $failures failed"
if [ "$failures" -eq 0 ]; then rm -rf "$work"; fi
[ "$failures" -eq 0 ]

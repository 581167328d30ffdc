#!/usr/bin/env bash
# The installer and its uninstaller under Wine, silent, each group of cases in
# a fresh prefix of its own: a 64-bit one for a fresh install, an install over
# it, a failed registration, a module held by a running program and the
# uninstall; a second 64-bit one for the runs that must install nothing and an
# uninstall that cannot delete; a 32-bit one for 32-bit Windows.
# Usage: installer-test.sh WORK_DIR INSTALLER VERSION I686_BIN X86_64_BIN REFUSING_LIBRARY HOLDER
# Exit code 77 (skipped) where the installer cannot run here.
set -euo pipefail
work="$1"
installer="$2"
version="$3"
i686_bin="$4"
x86_64_bin="$5"
refusing_library="$6"
holder="$7"
. "$(dirname "$0")/../../scripts/wine-common.sh"

if ! quillon_host_runs_32bit; then
    echo "skipped: the installer is a 32-bit program"
    quillon_explain_no_32bit
    exit 77
fi
if [ ! -f "$installer" ]; then
    if [ ! -f "$i686_bin/QuillonFilter.dll" ]; then
        echo "skipped: no installer without the 32-bit build ($i686_bin); scripts/build.sh i686 x86_64 builds both"
        exit 77
    fi
    echo "FAILED: both builds are there but the installer $installer is not"
    exit 1
fi
[ -f "$holder" ] || { echo "FAILED: $holder is missing (build/i686's target ModuleHolder)"; exit 1; }

export WINEDEBUG=-all
rm -rf "$work/prefixes" "$work/files"
mkdir -p "$work/prefixes" "$work/files"
display="$(quillon_start_xvfb)"
export DISPLAY="$display"
cleanup() {
    local prefix
    for prefix in "$work"/prefixes/*/; do
        [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    done
    quillon_stop_xvfb "$display"
    rm -rf "$work/prefixes" "$work/files"
}
trap cleanup EXIT

failures=0
checks=0
check() {  # check DESCRIPTION COMMAND...
    checks=$((checks + 1))
    if "${@:2}"; then
        echo "ok: $1"
    else
        echo "FAILED: $1"
        failures=$((failures + 1))
    fi
}

windows_path() { echo "Z:${1//\//\\}"; }

fresh_prefix() {  # fresh_prefix NAME [WINEARCH]
    export WINEPREFIX="$work/prefixes/$1"
    export WINEARCH="${2:-win64}"
    quillon_prepare_prefix
    dir64="$WINEPREFIX/drive_c/Program Files/Brisca Camera"
    dir32="$WINEPREFIX/drive_c/Program Files (x86)/Brisca Camera"
}

setup() {  # setup ARGS... : exit code in $status, messages in $work/files/out.txt
    status=0
    quillon_wine "$(windows_path "$installer")" "$@" >"$work/files/out.txt" 2>&1 || status=$?
    sed 's/^/    | /' "$work/files/out.txt"
}

# Runs a command line as cmd.exe has it, for arguments that must reach the
# program with their quotes as written, which Wine's own command line quotes.
command_line() {  # command_line LINE : exit code in $status
    printf '@%s\r\n@exit %%errorlevel%%\r\n' "$1" >"$work/files/command.bat"
    status=0
    quillon_wine cmd /c "$(windows_path "$work/files/command.bat")" >"$work/files/out.txt" 2>&1 || status=$?
    sed 's/^/    | /' "$work/files/out.txt"
}

tool() {  # tool FOLDER ARGS... : briscacap.exe from FOLDER
    local folder="$1"
    shift
    (cd "$folder" && quillon_wine briscacap.exe "$@") >"$work/files/out.txt" 2>&1 || return 1
}
lists_camera() { tool "$1" list && grep -q "Brisca Camera" "$work/files/out.txt"; }
streams() { tool "$1" stream --seconds 2 --preview null && grep -q "Summary" "$work/files/out.txt"; }
said() { grep -q -- "$1" "$work/files/out.txt"; }

registry_value() {  # registry_value KEY NAME VIEW : prints the value
    quillon_wine reg query "$1" /v "$2" /reg:"$3" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 \{1,\}REG_[A-Z_]* \{1,\}//p" | grep .
}
server_key='HKLM\Software\Classes\CLSID\{FE4F5263-11D5-4724-95BA-A978983B6369}\InprocServer32'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisca Camera'
server_is() { [ "$(quillon_wine reg query "$server_key" /ve /reg:"$1" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *(Default) *REG_SZ *//p')" = "$2" ]; }
registered_at_installed_paths() {
    server_is 64 'C:\Program Files\Brisca Camera\QuillonFilter.dll' &&
        server_is 32 'C:\Program Files (x86)\Brisca Camera\QuillonFilter.dll'
}
# Nothing of the product left in the registry, in either view: Wine writes
# the registry out when its server ends.
registry_clean() {
    wineserver -w
    ! grep -qi 'FE4F5263-11D5-4724-95BA-A978983B6369\|Brisca Camera' "$WINEPREFIX/system.reg"
}
no_program_folders() { [ ! -e "$dir64" ] && [ ! -e "$dir32" ]; }
# Run in place, the uninstaller leaves itself: the only file left.
only_the_uninstaller_left() {
    [ ! -e "$dir32" ] && [ "$(ls -A "$dir64")" = Uninstall.exe ] && ! has_uninstall_entry
}
uninstall_in_place() {  # exit code in $status
    command_line '"C:\Program Files\Brisca Camera\Uninstall.exe" /S _?=C:\Program Files\Brisca Camera'
}
has_uninstall_entry() { test -n "$(registry_value "$uninstall_key" DisplayName 64)"; }

# A running program that has loaded a module, until release_module.
hold_module() {  # hold_module WINDOWS_PATH
    rm -f "$work/files/release"
    quillon_wine "$holder" "$1" "$(windows_path "$work/files/release")" >"$work/files/holder.txt" 2>&1 &
    holder_pid=$!
    for _ in $(seq 1 200); do
        grep -q loaded "$work/files/holder.txt" && return 0
        kill -0 "$holder_pid" 2>/dev/null && sleep 0.1 || return 1
    done
    return 1
}
release_module() { touch "$work/files/release"; wait "$holder_pid" || true; }

# The vendor's libraries, played by the simulated ones with a mark appended, so
# that the installed copies show which file they came from; in a folder whose
# name has a space, as vendors' folders often do.
vendor="$work/files/vendor library"
mkdir -p "$vendor/x64"
{ cat "$i686_bin/QuillonSDK.dll"; echo "vendor 32"; } >"$vendor/QuillonSDK.dll"
{ cat "$x86_64_bin/QuillonSDK.dll"; echo "vendor 64"; } >"$vendor/x64/QuillonSDK.dll"
# A 32-bit library (in the folder itself) and a 64-bit one that refuses to load.
refusing="$work/files/refusing"
mkdir -p "$refusing/x64"
cp "$vendor/QuillonSDK.dll" "$refusing/"
cp "$refusing_library" "$refusing/x64/QuillonSDK.dll"
# Only a 32-bit library: on 64-bit Windows the 64-bit one is missing.
only32="$work/files/only32"
mkdir -p "$only32"
cp "$vendor/QuillonSDK.dll" "$only32/"

echo "== fresh install with the simulated camera"
fresh_prefix installed
setup /S /SIMULATED
check "the installer succeeds" test "$status" -eq 0
check "the uninstaller is installed" test -f "$dir64/Uninstall.exe"
check "the README is installed" cmp -s "$dir64/README.txt" "$(dirname "$0")/../../README.md"
check "the 32-bit folder holds the 32-bit module" cmp -s "$dir32/QuillonFilter.dll" "$i686_bin/QuillonFilter.dll"
check "the 64-bit folder holds the 64-bit module" cmp -s "$dir64/QuillonFilter.dll" "$x86_64_bin/QuillonFilter.dll"
check "the 32-bit simulated library is beside the 32-bit module" cmp -s "$dir32/QuillonSDK.dll" "$i686_bin/QuillonSDK.dll"
check "the 64-bit simulated library is beside the 64-bit module" cmp -s "$dir64/QuillonSDK.dll" "$x86_64_bin/QuillonSDK.dll"
check "the capture tool is the 64-bit one" cmp -s "$dir64/briscacap.exe" "$x86_64_bin/briscacap.exe"
check "both modules are registered from the program folders" registered_at_installed_paths
check "a 64-bit process lists the camera" lists_camera "$dir64"
check "a 32-bit process lists the camera" lists_camera "$i686_bin"
check "the installed capture tool streams" streams "$dir64"
check "a 32-bit process streams from the 32-bit module" streams "$i686_bin"
check "the uninstall entry has the version" test "$(registry_value "$uninstall_key" DisplayVersion 64)" = "$version"
check "the uninstall entry has the name" test "$(registry_value "$uninstall_key" DisplayName 64)" = "Brisca Camera"
check "the uninstall entry has a publisher" test -n "$(registry_value "$uninstall_key" Publisher 64)"
check "the uninstall entry has a size" test "$(($(registry_value "$uninstall_key" EstimatedSize 64)))" -gt 1000
check "the uninstall entry names the uninstaller" test "$(registry_value "$uninstall_key" UninstallString 64)" = \
    '"C:\Program Files\Brisca Camera\Uninstall.exe"'
check "the uninstall entry has a silent uninstaller" test \
    "$(registry_value "$uninstall_key" QuietUninstallString 64)" = '"C:\Program Files\Brisca Camera\Uninstall.exe" /S'
check "the uninstall entry is in the 64-bit view only" test -z "$(registry_value "$uninstall_key" DisplayName 32)"

echo "== install over it, with the vendor's libraries and the virtual camera asked for"
command_line "\"$(windows_path "$installer")\" /S /VCAM /LIBDIR=\"$(windows_path "$vendor")\""
check "the installer succeeds" test "$status" -eq 0
# Wine has no virtual cameras: the installer says so and carries on.
check "it says the virtual camera was not added" said "virtual camera was not added (briscacap answered 5)"
check "it passes on the tool's reason" said "Windows 11 build 22000"
check "no virtual camera is noted for the uninstaller" test -z "$(registry_value "$uninstall_key" VirtualCamera 64)"
check "the 32-bit library comes from the folder itself" cmp -s "$dir32/QuillonSDK.dll" "$vendor/QuillonSDK.dll"
check "the 64-bit library comes from x64" cmp -s "$dir64/QuillonSDK.dll" "$vendor/x64/QuillonSDK.dll"
check "both modules are still registered from the program folders" registered_at_installed_paths
check "a 64-bit process lists the camera" lists_camera "$dir64"
check "a 32-bit process lists the camera" lists_camera "$i686_bin"

echo "== a registration that fails rolls back to the installation before"
fingerprint() { (cd "$dir64" && md5sum ./* && cd "$dir32" && md5sum ./*) || true; }
fingerprint >"$work/files/before.md5"
setup /S "/LIBDIR=$(windows_path "$refusing")"
check "the installer fails with exit code 5" test "$status" -eq 5
check "it says the 64-bit module could not be registered" said "64-bit QuillonFilter.dll could not be registered"
fingerprint >"$work/files/after.md5"
check "every installed file is as before" cmp -s "$work/files/before.md5" "$work/files/after.md5"
check "both modules are registered again from the program folders" registered_at_installed_paths
check "the camera is still listed" lists_camera "$dir64"

echo "== an uninstaller that cannot unregister removes nothing"
cp "$dir64/QuillonSDK.dll" "$work/files/good64.dll" || true
cp "$refusing_library" "$dir64/QuillonSDK.dll" || true
# Run in place (_?=, unquoted) to get its exit code.
uninstall_in_place
check "the uninstaller fails with exit code 5" test "$status" -eq 5
check "the modules stay" test -f "$dir64/QuillonFilter.dll" -a -f "$dir32/QuillonFilter.dll"
check "the uninstall entry stays" has_uninstall_entry
cp "$work/files/good64.dll" "$dir64/QuillonSDK.dll" || true

echo "== a running program holds the 32-bit module"
held='C:\Program Files (x86)\Brisca Camera\QuillonFilter.dll'
check "the holder has loaded the installed 32-bit module" hold_module "$held"
fingerprint >"$work/files/before.md5"
setup /S /SIMULATED
check "installing over it fails with exit code 6" test "$status" -eq 6
check "it names the file in use, in its own folder" said "Could not write ${held//\\/\\\\} (in use by a running program)"
uninstall_in_place
check "the uninstaller fails with exit code 7" test "$status" -eq 7
check "it names the file in use and says why" said "cannot remove ${held//\\/\\\\} (in use by a running program)"
fingerprint >"$work/files/after.md5"
check "every installed file is as before" cmp -s "$work/files/before.md5" "$work/files/after.md5"
check "both modules are still registered" registered_at_installed_paths
check "the uninstall entry stays" has_uninstall_entry
release_module

echo "== silent uninstall, once the program that held the module has ended"
settings="$WINEPREFIX/drive_c/users/$(id -un)/Temp/Brisca Camera.config"
check "streaming left the user's settings file" test -f "$settings"
uninstall() {  # the uninstaller as the uninstall entry starts it, silent
    quillon_wine 'C:\Program Files\Brisca Camera\Uninstall.exe' /S
}
# As an installation on Windows 11 notes it: the uninstaller tries to remove
# the camera (Wine refuses) and removes everything else all the same.
quillon_wine reg add "$uninstall_key" /v VirtualCamera /t REG_DWORD /d 1 /f /reg:64 >/dev/null 2>&1
check "the uninstaller starts" uninstall
# The uninstaller runs from a copy of itself in the temporary folder and
# returns at once: wait for the prefix's last process.
wineserver -w
check "no file or folder is left in the program folders" no_program_folders
check "no key or value of the product is left in the registry" registry_clean
check "the uninstall entry is gone" test -z "$(registry_value "$uninstall_key" DisplayName 64)"
check "the user's settings file stays" test -f "$settings"

echo "== runs that must install nothing"
fresh_prefix refused
setup /S
check "no library folder: exit code 4" test "$status" -eq 4
check "it asks for /LIBDIR" said "/LIBDIR=folder"
setup /S '/LIBDIR=Z:\no\such\folder'
check "a missing library folder: exit code 4" test "$status" -eq 4
check "it names the missing folder" said 'Z:\\no\\such\\folder does not exist'
setup /S "/LIBDIR=$(windows_path "$only32")"
check "a folder without a 64-bit library: exit code 4" test "$status" -eq 4
check "it names the missing 64-bit library" said "holds no 64-bit QuillonSDK.dll"
setup /S /SIMULATED "/LIBDIR=$(windows_path "$only32")"
check "both /SIMULATED and /LIBDIR: exit code 4" test "$status" -eq 4
setup /S "/LIBDIR=$(windows_path "$refusing")"
check "a failed registration on a fresh system: exit code 5" test "$status" -eq 5
check "nothing is left in the program folders" no_program_folders
check "nothing is left in the registry" registry_clean

echo "== an uninstall that cannot delete a file once it has unregistered the modules"
# Its files can be opened, but not deleted: a folder that is read-only for a
# user, immutable for root (where chattr works); a probe file shows which.
lock_folder() { : >"$1/probe" && chmod a-w "$1" && { chattr +i "$1" 2>/dev/null; ! rm -f "$1/probe" 2>/dev/null; }; }
unlock_folder() { chattr -i "$1" 2>/dev/null || true; chmod u+w "$1"; rm -f "$1/probe"; }
pending_removal() {
    quillon_wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations 2>/dev/null | grep -qF "$1"
}
setup /S /SIMULATED
check "the installer succeeds" test "$status" -eq 0
if lock_folder "$dir32"; then
    uninstall_in_place
    unlock_folder "$dir32"
    check "the uninstaller fails with exit code 8" test "$status" -eq 8
    check "it names the file and the restart" said "Could not remove ${held//\\/\\\\} (.*); they are removed at the next restart"
    check "the file is to be removed at the next restart" pending_removal "$held"
    check "the uninstall entry and the uninstaller stay" eval 'has_uninstall_entry && test -f "$dir64/Uninstall.exe"'
    # Run again before the restart, it finds the modules unregistered and finishes.
    uninstall_in_place
    check "the uninstaller run again succeeds" test "$status" -eq 0
    check "only the uninstaller is left, and no entry" only_the_uninstaller_left
else
    unlock_folder "$dir32"
    echo "skipped: no folder here keeps its files from being deleted"
fi

echo "== 32-bit Windows"
fresh_prefix installed32 win32
dir32="$dir64"
setup /S /VCAM "/LIBDIR=$(windows_path "$only32")"
check "the installer succeeds" test "$status" -eq 0
check "it says the virtual camera needs 64-bit Windows 11" said "needs 64-bit Windows 11"
check "the program folder holds the 32-bit module" cmp -s "$dir32/QuillonFilter.dll" "$i686_bin/QuillonFilter.dll"
check "the 32-bit library comes from the folder itself" cmp -s "$dir32/QuillonSDK.dll" "$only32/QuillonSDK.dll"
check "the capture tool is the 32-bit one" cmp -s "$dir32/briscacap.exe" "$i686_bin/briscacap.exe"
check "the installed capture tool streams" streams "$dir32"
check "the uninstaller starts" uninstall
wineserver -w
check "the uninstaller removes the program folder" test ! -e "$dir32"
check "and everything it registered" registry_clean

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]

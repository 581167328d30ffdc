#!/usr/bin/env bash
# Installs everything the build, the tests and the capture tool need, from
# Debian's packages. Safe to run again: it installs only what is missing.
set -euo pipefail

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

packages=(
    cmake make googletest
    mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    wine wine64 wine32:i386
    xvfb x11-apps imagemagick ffmpeg
    nsis
)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    need_update=1
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: everything is installed"
    exit 0
fi

echo "setup: installing ${missing[*]}"
if [ $need_update -eq 1 ] || [ ${#missing[@]} -gt 0 ]; then
    as_root apt-get update -q
fi
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"

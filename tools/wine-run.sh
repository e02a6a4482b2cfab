#!/usr/bin/env bash
# Runs a Windows program under Wine in a given prefix, with the settings our tests rely on:
#   tools/wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
# The prefix is created on first use, once even when several tests start together. The exit
# status is the program's.
set -euo pipefail

prefix=$(realpath -m "$1")
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# Under the C locale Wine drops the high bit of non-ASCII bytes in arguments.
export LC_ALL=C.UTF-8
# No Mono or Gecko installers on prefix creation.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Debian keeps Wine's own fonts (Tahoma, Marlett for the caption buttons, the MS Sans Serif
# bitmaps) outside the prefix, where this Wine does not look: copy them into the prefix's font
# folder. Dialog fonts then map as on Windows, "MS Shell Dlg" to MS Sans Serif, whose metrics our
# dialog layouts are made for (the wider fonts Wine falls back to cut their texts off).
install_fonts() {
    local fonts=/usr/share/wine/fonts
    if [[ -d "$fonts" && -d "$prefix/drive_c/windows/Fonts" ]]; then
        cp -n "$fonts"/*.ttf "$fonts"/*.fon "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v 'MS Shell Dlg' \
        /d 'MS Sans Serif' /f >/dev/null 2>&1 || true
}

if [[ ! -f "$prefix/system.reg" ]]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [[ ! -f "$prefix/system.reg" ]]; then
            # A prefix for 32-bit Windows, also where Debian's 64-bit Wine is installed beside the
            # 32-bit one (its wineserver then serves both), which would make a 64-bit prefix.
            WINEARCH=win32 wineboot -i >/dev/null 2>&1 || true
            install_fonts
            wineserver -w
        fi
    ) 9>"$prefix.lock"
fi
exec wine "$@"

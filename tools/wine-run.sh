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

if [[ ! -f "$prefix/system.reg" ]]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [[ ! -f "$prefix/system.reg" ]]; then
            wineboot -i >/dev/null 2>&1 || true
            wineserver -w
        fi
    ) 9>"$prefix.lock"
fi
exec wine "$@"

#!/usr/bin/env bash
# Runs the GUI tests of a Windows build tree: starts Xvfb on a free display and a fresh Wine prefix
# with a 1024 x 768 virtual desktop, runs the window-operations test and the Ferrolyn.exe driver,
# converts their screenshots to PNG in BUILD/gui/screenshots, and stops Xvfb and Wine again.
#   tests/gui/run_gui_tests.sh BUILD_DIR
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(realpath "${1:?usage: run_gui_tests.sh BUILD_DIR}")
work=$build/gui
prefix=$work/wineprefix
shots=$work/screenshots
wine_run=$top/tools/wine-run.sh

rm -rf "$work"
mkdir -p "$shots"

# A display number nobody uses.
display=90
while [[ -e /tmp/.X$display-lock || -e /tmp/.X11-unix/X$display ]]; do display=$((display + 1)); done
# The screen leaves room for the larger desktops of the DPI runs below.
Xvfb ":$display" -screen 0 2048x1536x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
cleanup() {
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
    [[ -e /tmp/.X11-unix/X$display ]] && break
    sleep 0.1
done
export DISPLAY=:$display

# Windows paths of files in the Linux tree: Wine shows / as drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Every program runs inside one virtual desktop, which gives windows their frames; the setting
# takes effect once the prefix's server has restarted.
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null
WINEPREFIX=$prefix wineserver -w

status=0
echo "== window operations"
"$wine_run" "$prefix" "$build/tests/gui/window_ops_test.exe" --gtest_brief=1 || status=1
echo "== Ferrolyn.exe"
mkdir -p "$work/scratch"
"$wine_run" "$prefix" "$build/tests/gui/gui_driver.exe" "$(windows_path "$build/desktop/Ferrolyn.exe")" \
    "$(windows_path "$shots")" "$(windows_path "$build/ferrolyn-cli.exe")" "$(windows_path "$work/scratch")" || status=1

# The main window again at 144 and 192 DPI, on desktops large enough to hold it; Wine reads
# LogPixels when its server starts.
for dpi in 144 192; do
    echo "== the main window at $dpi DPI"
    "$wine_run" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
    "$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 2048x1536 /f >/dev/null
    WINEPREFIX=$prefix wineserver -w
    GUI_SCENARIOS=layout "$wine_run" "$prefix" "$build/tests/gui/gui_driver.exe" \
        "$(windows_path "$build/desktop/Ferrolyn.exe")" "$(windows_path "$shots")" \
        "$(windows_path "$build/ferrolyn-cli.exe")" "$(windows_path "$work/scratch")" || status=1
done

# ImageMagick's convert; /usr/bin first, where Debian puts it.
convert=convert
[[ -x /usr/bin/convert ]] && convert=/usr/bin/convert
for picture in "$shots"/*.bmp; do
    [[ -e "$picture" ]] || continue
    "$convert" "$picture" "${picture%.bmp}.png" && rm -f "$picture"
done
echo "screenshots: $shots"
exit $status

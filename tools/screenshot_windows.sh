#!/bin/sh
# Takes docs/screenshot-windows.png: the Win32 window under Wine (Chinese
# locale, CJK font) and Xvfb with a window manager, after a run of four
# echoes of 32 bytes to 127.0.0.1. As root, for Wine's raw ICMP socket.
# Needs xvfb, xauth, openbox, xdotool and imagemagick, and `make windows`.
# Usage: tools/screenshot_windows.sh [path/to/sondrel-ping.exe] [out.png]
set -eu
program=$(realpath "${1:-build-windows/bin/sondrel-ping.exe}")
out=$(realpath "${2:-docs/screenshot-windows.png}")
tools=$(dirname "$(realpath "$0")")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cp "$program" "$folder/"
printf '[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n' >"$folder/Settings.inf"
WINE_MANAGED=1 xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$tools/wine_session.sh" sh -eu -c "
    openbox & wm=\$!
    sleep 1
    cd '$folder' && /usr/lib/wine/wine64 '$(basename "$program")' & pid=\$!
    wid=\$(xdotool search --sync --name 'Sondrel For Tamor')
    xdotool windowactivate --sync \$wid
    sleep 1
    xdotool mousemove --window \$wid 56 68 click 1
    sleep 3
    import -window root -crop 446x292+461+223 +repage '$out'
    kill \$pid \$wm
"

#!/bin/sh
# Takes docs/screenshot.png: the window under Xvfb with a window manager,
# after a run of four echoes of 32 bytes to 127.0.0.1.
# Needs xvfb, xauth, openbox, xdotool and imagemagick.
# Usage: tools/screenshot.sh [path/to/sondrel-ping] [out.png]
set -eu
program=$(realpath "${1:-build/bin/sondrel-ping}")
out=$(realpath "${2:-docs/screenshot.png}")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
# A copy laid out as the build tree, with its ICMP helper; its own settings.
helper=$(dirname "$program")/../libexec/sondrel-ping
mkdir -p "$folder/bin" "$folder/libexec"
cp "$program" "$folder/bin/"
cp -r "$helper" "$folder/libexec/"
printf '[settings]\r\nhostname=127.0.0.1\r\ntimes=4\r\nbytes=32\r\n' >"$folder/bin/Settings.inf"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" sh -eu -c "
    openbox & wm=\$!
    sleep 1
    '$folder/bin/$(basename "$program")' & pid=\$!
    wid=\$(xdotool search --sync --name 'Sondrel For Tamor')
    xdotool windowactivate --sync \$wid
    sleep 1
    xdotool mousemove --window \$wid 56 68 click 1
    sleep 3
    import -window root -crop 446x292+461+223 +repage '$out'
    kill \$pid \$wm
"

#!/bin/sh
# Takes docs/screenshot.png: the window under Xvfb with a window manager,
# after a run of four echoes to 127.0.0.1 of 32 bytes.
# Needs xvfb, xauth, openbox, xdotool and imagemagick.
# Usage: tools/screenshot.sh [path/to/sondrel-ping] [out.png]
set -eu
program=$(realpath "${1:-build/src/sondrel-ping}")
out=$(realpath "${2:-docs/screenshot.png}")
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" sh -eu -c "
    openbox & wm=\$!
    sleep 1
    '$program' & pid=\$!
    wid=\$(xdotool search --sync --name 'Sondrel For Tamor')
    xdotool windowactivate --sync \$wid
    sleep 1
    xdotool mousemove --window \$wid 100 40 click 1 key ctrl+a type '127.0.0.1'
    xdotool mousemove --window \$wid 56 68 click 1
    sleep 3
    import -window root -crop 460x300+455+215 +repage '$out'
    kill \$pid \$wm
"

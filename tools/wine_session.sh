#!/bin/sh
# Runs a command in a Wine session of its own: a fresh prefix under a
# temporary folder, a Chinese locale (ANSI code page 936, as on a Chinese
# Windows; compiled for the session, since Wine takes its code page from the
# Unix locale and a fresh machine has only C), the CJK font for the captions,
# and one wineserver for the whole command, started beforehand with its
# streams detached (a wineserver that a test starts inherits the test's
# output, and ctest waits for it forever) and ended afterwards. Needs a
# display (xvfb-run).
# Usage: tools/wine_session.sh command...
set -eu
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    LANG=zh_CN.UTF-8
unset LC_ALL
wine=/usr/lib/wine/wine64
trap '/usr/lib/wine/wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$WINEPREFIX" "$work/locale"
localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8"
export LOCPATH="$work/locale"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
"$wine" wineboot -i </dev/null >/dev/null 2>&1
reg() {
    "$wine" reg add "$@" /f </dev/null >/dev/null 2>&1
}
# Without a font of its own for Chinese, Wine draws boxes.
reg 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Micro Hei'
for face in Tahoma 'MS Shell Dlg'; do
    reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
        /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei'
done
# Without a window manager Wine waits 2 s for every window it hides.
[ -n "${WINE_MANAGED:-}" ] || reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
"$@"

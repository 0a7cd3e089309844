#!/bin/sh
# The packages of `make package-windows`, under Wine (in tools/wine_session.sh):
# the zip holds its four files in one folder, its text with CR LF line ends;
# the installer, silent, for all users and for the current user, installs the
# program with its Start-menu entry and its uninstaller's entry, which gives
# the installed size; the installed program starts with the installation's
# settings and saves the user's own (window_tests' Installed test); the
# uninstaller leaves nothing but those. The build tree's settings are the
# Windows ones.
# Usage: package_win32_test.sh path/to/cmake path/to/build-tree
set -eu
cmake=$1
build=$2
wine=/usr/lib/wine/wine64
drive=$WINEPREFIX/drive_c
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\SondrelPing'
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
ours() {
    find "$drive" -ipath '*sondrel*' | sort
}

! grep -q '~/.config' "$build/bin/Settings.inf" || fail "bin/Settings.inf is the Linux one"
zip=$(echo "$build"/sondrel-ping-*-windows-x64.zip)
folder=$(basename "$zip" -windows-x64.zip)
files=$("$cmake" -E tar tf "$zip" | sort | tr '\n' ' ')
[ "$files" = "$folder/ $folder/LICENSE.txt $folder/README.txt $folder/Settings.inf $folder/sondrel-ping.exe " ] ||
    fail "zip: $files"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && "$cmake" -E tar xf "$zip")
for text in LICENSE.txt README.txt Settings.inf; do
    [ "$(grep -c "$(printf '\r')\$" "$unpacked/$folder/$text")" -eq "$(wc -l <"$unpacked/$folder/$text")" ] ||
        fail "zip: $text without CR LF line ends"
done

for mode in AllUsers:HKLM CurrentUser:HKCU; do
    "$wine" "$build"/sondrel-ping-*-setup.exe /S "/${mode%:*}" || fail "setup /$mode"
    program=$(find "$drive" -path '*/Sondrel Ping/sondrel-ping.exe')
    [ -n "$program" ] || fail "/$mode: no program"
    ours | grep -q '/Sondrel Ping.lnk$' || fail "/$mode: no Start-menu entry"
    "$wine" reg query "${mode#*:}\\$key" /v EstimatedSize 2>/dev/null | grep -q 'REG_DWORD *0x0*[1-9a-f]' ||
        fail "/$mode: no uninstall entry with the installed size"
    "$wine" "$build/bin/window_tests.exe" --gtest_filter='Installed.*' \
        "$("$wine" winepath -w "$program")" || fail "/$mode: the installed program"
    # The uninstaller runs from a copy of itself, and its first copy returns at once.
    "$wine" "${program%/*}/uninstall.exe" /S "/${mode%:*}"
    for _ in $(seq 100); do
        [ -e "${program%/*}" ] || break
        sleep 0.2
    done
    left=$(ours | sed 's|.*/AppData/Roaming/|Roaming/|')
    [ "$left" = "Roaming/Sondrel Ping
Roaming/Sondrel Ping/Settings.inf" ] || fail "/$mode: left behind: $left"
    ! "$wine" reg query "${mode#*:}\\$key" >/dev/null 2>&1 || fail "/$mode: uninstall entry left"
    rm -r "$drive"/users/*/AppData/Roaming/"Sondrel Ping"
done

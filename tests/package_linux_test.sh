#!/bin/sh
# Builds the Debian package from two checkouts of the source tree, then checks
# that both are the same bytes, its control data, its file list, that it
# unpacks into a throw-away root with everything in place (stripped programs
# answering --version and --help, a valid desktop entry and AppStream data
# that a software centre's catalogue takes), that its postinst never fails
# the install, and that lintian finds no error and no warning in it. Without
# lintian the rest still runs and the test ends as skipped.
# Usage: package_linux_test.sh path/to/source-tree
set -eu
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Two checkouts of one commit in two places, their files of different times,
# each packaged by `make package` (unoptimised, to be quick), one after the
# other: none of that may show in the package.
for tree in a b; do
    mkdir "$work/$tree"
    (cd "$source" && tar --exclude='./build*' --exclude=./.git -cf - .) | tar -C "$work/$tree" -xf -
    [ $tree = b ] || find "$work/$tree" -exec touch -h -d @1000000000 {} +
    env -u MAKEFLAGS -u MAKELEVEL -u MFLAGS DEB_BUILD_OPTIONS=noopt \
        make -C "$work/$tree" package JOBS=2 >"$work/make.log" 2>&1 ||
        fail "make package: $(tail -20 "$work/make.log")"
done
build=$work/a/build-pkg
deb=$(echo "$build"/sondrel-ping_*.deb)
cmp "$deb" "$work"/b/build-pkg/sondrel-ping_*.deb || fail "two checkouts give two packages"

depends=$(dpkg-deb -f "$deb" Depends | tr -d ' ' | tr ',' '\n' | sed 's/(.*//')
for p in libqt6widgets6 libqt6gui6 libseccomp2 libcap2-bin fonts-wqy-microhei; do
    echo "$depends" | grep -qx "$p" || fail "Depends lacks $p: $depends"
done
dpkg-deb -f "$deb" Recommends | grep -qx qt6-translations-l10n ||
    fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
dpkg-deb -I "$deb" | grep -Eq '^ +[0-9]+ bytes, +[0-9]+ lines +\* +postinst ' ||
    fail "no executable postinst: $(dpkg-deb -I "$deb")"

files=$(dpkg-deb -c "$deb" | grep -v '^d' | awk '{ print $6 }' | sort)
expected="./etc/xdg/sondrel-ping/Settings.inf
./usr/bin/sondrel-ping
./usr/libexec/sondrel-ping/sondrel-ping-icmp
./usr/share/applications/sondrel-ping.desktop
./usr/share/doc/sondrel-ping/changelog.gz
./usr/share/doc/sondrel-ping/copyright
./usr/share/icons/hicolor/128x128/apps/sondrel-ping.png
./usr/share/icons/hicolor/16x16/apps/sondrel-ping.png
./usr/share/icons/hicolor/24x24/apps/sondrel-ping.png
./usr/share/icons/hicolor/256x256/apps/sondrel-ping.png
./usr/share/icons/hicolor/32x32/apps/sondrel-ping.png
./usr/share/icons/hicolor/48x48/apps/sondrel-ping.png
./usr/share/icons/hicolor/64x64/apps/sondrel-ping.png
./usr/share/man/man1/sondrel-ping.1.gz
./usr/share/metainfo/example.sondrel_ping.SondrelPing.metainfo.xml"
[ "$files" = "$expected" ] || fail "the package holds: $files"

root=$work/root
dpkg-deb -x "$deb" "$root"
for program in usr/bin/sondrel-ping usr/libexec/sondrel-ping/sondrel-ping-icmp; do
    [ -x "$root/$program" ] || fail "$program is not executable"
    if readelf -S "$root/$program" | grep -Eq ' \.(symtab|comment) '; then
        fail "$program is not stripped"
    fi
done
for size in 16 24 32 48 64 128 256; do
    file "$root/usr/share/icons/hicolor/${size}x$size/apps/sondrel-ping.png" |
        grep -q "PNG image data, $size x $size," || fail "no $size px icon"
done
# Answered in one line, without a display.
for option in --version --help; do
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/sondrel-ping" \
        $option) || fail "$option ended with $?"
    [ "$(echo "$said" | wc -l)" = 1 ] || fail "$option said: $said"
done
[ "$said" != "${said#Usage: sondrel-ping }" ] || fail "--help said: $said"
[ "$(env -u DISPLAY "$root/usr/bin/sondrel-ping" --version)" = \
    "sondrel-ping $(dpkg-deb -f "$deb" Version)" ] || fail "--version is not the package's"

entry=$root/usr/share/applications/sondrel-ping.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate"
# The software centres' data with its desktop entry and icon, strictly; only
# the project's domain is under .example, which AppStream does not know.
appstreamcli validate-tree --no-net --strict --override=cid-maybe-not-rdns=pedantic "$root" \
    >"$work/appstream.log" 2>&1 || fail "appstreamcli: $(cat "$work/appstream.log")"
grep -qx 'Exec=sondrel-ping' "$entry" && grep -qx 'Icon=sondrel-ping' "$entry" ||
    fail "the entry does not start the program with its icon"
# A software centre finds the program by the words that find its menu entry.
entryWords() { sed -n "s/^$1=//p" "$entry" | tr ';' ' '; }
dataWords() { grep -o "<keyword$1>[^<]*" "$root"/usr/share/metainfo/*.xml | sed 's/.*>//' | tr '\n' ' '; }
[ "$(entryWords Keywords)" = "$(dataWords '')" ] &&
    [ "$(entryWords 'Keywords\[zh_CN\]')" = "$(dataWords ' xml:lang="zh-CN"')" ] ||
    fail "keywords: the entry's $(entryWords Keywords), the AppStream data's $(dataWords '')"
appstreamcli compose --no-net --result-root="$work/catalog" --origin=test "$root" \
    >"$work/compose.log" 2>&1 || fail "appstreamcli compose: $(cat "$work/compose.log")"

# A new user's first window is ready to ping; the administrator's edits survive upgrades.
grep -qx 'hostname=127.0.0.1' "$root/etc/xdg/sondrel-ping/Settings.inf" ||
    fail "no host in the defaults for new users"
dpkg-deb -e "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" = /etc/xdg/sondrel-ping/Settings.inf ] ||
    fail "conffiles: $(cat "$work/control/conffiles")"
# Under another prefix, in its own configuration folder, where its program looks.
cmake --install "$build" --prefix "$work/prefix" >/dev/null &&
    [ -f "$work/prefix/etc/xdg/sondrel-ping/Settings.inf" ] || fail "no defaults in the prefix's etc"

# The postinst with setcap missing, failing and working: always exit 0, and
# a message exactly where the program is left without the capability.
for case in "missing 1" "fails 1" "works 0"; do
    set -- $case
    bin=$work/$1
    mkdir "$bin"
    if [ "$1" = fails ]; then
        printf '#!/bin/sh\nexit 1\n' >"$bin/setcap"
    elif [ "$1" = works ]; then
        printf '#!/bin/sh\necho "$*" >"%s/args"\n' "$bin" >"$bin/setcap"
    fi
    chmod -R +x "$bin"
    PATH=$bin /bin/sh "$work/control/postinst" configure 2>"$bin/said" ||
        fail "postinst failed with setcap $1"
    [ -s "$bin/said" ] && said=1 || said=0
    [ "$said" = "$2" ] || fail "postinst with setcap $1 said: $(cat "$bin/said")"
done
[ "$(cat "$work/works/args")" = "cap_net_raw,cap_setpcap=p /usr/libexec/sondrel-ping/sondrel-ping-icmp" ] ||
    fail "setcap got: $(cat "$work/works/args")"

# The manual page, the copyright file, the changelog and the control data are
# lintian's to judge; a tag that is right for this package is overridden in it.
if ! command -v lintian >/dev/null 2>&1; then
    echo "package OK but SKIPPED lintian: it is not installed (apt-get install lintian)"
    exit 77
fi
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian: $(cat "$work/lintian.log")"
echo "package OK, lintian clean: $(basename "$deb")"

#!/bin/sh
# Installs the Debian packages that building, running and testing need, and
# nothing when they are all there.
set -eu

packages="cmake make g++ pkg-config qt6-base-dev libxcb1-dev libidn2-dev libgtest-dev libcap-dev libcap2-bin libseccomp-dev
  fonts-wqy-microhei qt6-translations-l10n iproute2 dpkg-dev file desktop-file-utils
  appstream appstream-compose iputils-ping lintian
  python3-pyatspi at-spi2-core dbus xvfb"
# `make fuzz`: libFuzzer comes with clang.
if [ "${1:-}" = fuzz ]; then
    packages="$packages clang-14 libclang-rt-14-dev"
fi
# `make windows`, and its tests in `make test`: the cross-compiler, GoogleTest's
# sources, Wine with a display for its windows, the installer's compiler, the
# Chinese locale's sources for the Wine session.
if [ "${1:-}" = windows ]; then
    packages="$packages g++-mingw-w64-x86-64-posix googletest wine64 xvfb xauth nsis locales"
fi
# `make bench`: the system calls are counted with perf, the windows painted by Xvfb.
if [ "${1:-}" = bench ]; then
    packages="$packages linux-perf xvfb xauth"
fi

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

install="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends$missing"
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
    sh -c "$install"
elif command -v sudo >/dev/null 2>&1; then
    sudo sh -c "$install"
else
    echo "Missing Debian packages. As root, run:" >&2
    echo "  $install" >&2
    exit 1
fi

#!/bin/sh
# Runs platform_tests under Wine with what a Windows program cannot make
# there: PING_LINKED_SETTINGS, a folder whose Settings.inf is a symbolic link
# to ../target.inf; and, as root, network and mount namespaces of its own,
# with a loopback only (no name server answers) and, over /etc/hosts, a hosts
# file that gives v6only.test an IPv6 address alone (PING_HOSTS_FILE).
# Usage: platform_win32_test.sh path/to/wine path/to/platform_tests.exe
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/linked"
printf '[settings]\n' >"$work/target.inf"
ln -s ../target.inf "$work/linked/Settings.inf"
export PING_LINKED_SETTINGS="$work/linked"
if [ "$(id -u)" -ne 0 ]; then
    "$@"
    exit
fi
printf '127.0.0.1 localhost\n::1 localhost\n2001:db8::5 v6only.test\n' >"$work/hosts"
PING_HOSTS_FILE=$work/hosts unshare --mount --net sh -ec \
    'ip link set lo up; mount --bind "$PING_HOSTS_FILE" /etc/hosts; exec "$@"' sh "$@"

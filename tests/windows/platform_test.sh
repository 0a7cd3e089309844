#!/bin/sh
# Runs platform_tests under Wine, as root in network and mount namespaces of
# its own: a loopback only (no name server answers) and, over /etc/hosts, a
# hosts file that gives v6only.test an IPv6 address alone (PING_HOSTS_FILE).
# Usage: platform_test.sh path/to/wine path/to/platform_tests.exe
set -eu
if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '127.0.0.1 localhost\n::1 localhost\n2001:db8::5 v6only.test\n' >"$work/hosts"
PING_HOSTS_FILE=$work/hosts unshare --mount --net sh -ec \
    'ip link set lo up; mount --bind "$PING_HOSTS_FILE" /etc/hosts; exec "$@"' sh "$@"

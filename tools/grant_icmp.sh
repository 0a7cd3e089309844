#!/bin/sh
# Gives the program's ICMP helper the raw-socket capability (and the one to
# drop its bounding set), through sudo, unless it has them or we are root;
# where that cannot be done, prints the command that does. Never fails:
# without it the program still starts.
# Usage: tools/grant_icmp.sh path/to/sondrel-ping-icmp
set -u
helper=$(realpath "$1")
caps=cap_net_raw,cap_setpcap=p
[ "$(id -u)" -eq 0 ] && exit 0
# A normal user's PATH lacks /usr/sbin, where getcap and setcap are.
PATH=$PATH:/usr/sbin:/sbin
# getcap names them in the order of their numbers.
getcap "$helper" 2>/dev/null | grep -Eq 'cap_setpcap,cap_net_raw[=+]p' && exit 0
grant="setcap $caps $helper"
if command -v sudo >/dev/null 2>&1; then
    echo "Permitting ICMP: sudo $grant"
    sudo setcap "$caps" "$helper" && exit 0
    echo "ICMP is not permitted to the program. To permit it, run:" >&2
    echo "  sudo $grant" >&2
else
    echo "ICMP is not permitted to the program. To permit it, run as root:" >&2
    echo "  $grant" >&2
fi
exit 0

#!/bin/sh
# Gives a program file the raw-socket capability for ICMP echoes, through
# sudo, unless it has it or we are root; where that cannot be done, prints the
# command that does. Never fails: without it the program still starts.
# Usage: tools/grant_icmp.sh path/to/sondrel-ping
set -u
program=$(realpath "$1")
[ "$(id -u)" -eq 0 ] && exit 0
# A normal user's PATH lacks /usr/sbin, where getcap and setcap are.
PATH=$PATH:/usr/sbin:/sbin
getcap "$program" 2>/dev/null | grep -Eq 'cap_net_raw[=+][a-z]*p' && exit 0
grant="setcap cap_net_raw+p $program"
if command -v sudo >/dev/null 2>&1; then
    echo "Permitting ICMP: sudo $grant"
    sudo setcap cap_net_raw+p "$program" && exit 0
    echo "ICMP is not permitted to the program. To permit it, run:" >&2
    echo "  sudo $grant" >&2
else
    echo "ICMP is not permitted to the program. To permit it, run as root:" >&2
    echo "  $grant" >&2
fi
exit 0

#pragma once

// Where the program file carries CAP_NET_RAW (permitted), raises it just long
// enough to open a raw ICMP socket. Then, in every case, drops every
// capability for good. Returns the socket, or -1 when none could be opened.
// Call it first in main(), before anything reads the environment or loads a
// library.
int openRawIcmpSocketThenDropCapabilities();

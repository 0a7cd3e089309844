#include "ping/echo_records.h"

#include <cstddef>

// The helper reads and writes these records byte for byte.
static_assert(sizeof(EchoOptions) == 8);
static_assert(offsetof(EchoOptions, Ttl) == 0);
static_assert(offsetof(EchoOptions, Tos) == 1);
static_assert(offsetof(EchoOptions, Flags) == 2);
static_assert(offsetof(EchoOptions, OptionsSize) == 3);
static_assert(offsetof(EchoOptions, OptionsData) == 4);

static_assert(offsetof(EchoReply, Address) == 0);
static_assert(offsetof(EchoReply, Status) == 4);
static_assert(offsetof(EchoReply, RoundTripTime) == 8);
static_assert(offsetof(EchoReply, DataSize) == 12);
static_assert(offsetof(EchoReply, Reserved) == 14);
static_assert(offsetof(EchoReply, Data) == 16);
static_assert(offsetof(EchoReply, Options) == 20);
static_assert(kEchoReplyHeaderSize == 28);
// Any payload that the 16-bit length allows fits, and never less room than 163 bytes.
static_assert(sizeof(EchoReply) >= kEchoReplyHeaderSize + kMaxPayload);
static_assert(sizeof(EchoReply) >= 163);

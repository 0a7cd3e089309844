#pragma once

#include <initializer_list>

// Capabilities (CAP_* of <linux/capability.h>) of the calling process.

// Makes those of `capabilities` that are permitted effective too.
void raiseCapabilities(std::initializer_list<int> capabilities);

// Empties the effective, permitted, inheritable and ambient sets: nothing is
// left to raise one again with. False when a set could not be emptied.
bool dropCapabilities();

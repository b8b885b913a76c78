#pragma once
// The name in a hub driver's reply, over bytes: no platform calls, so it builds anywhere.
#include <cstddef>
#include <cstdint>

// The drivers' replies carry a length of their own; the UTF-16LE name from `offset` counts only
// when its terminator lies inside the reply's `size` bytes. *units: the code units before it.
bool FindReplyName(const std::uint8_t* reply, std::size_t size, std::size_t offset,
                   std::size_t* units);

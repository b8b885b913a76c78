#pragma once
// String-table blocks, over bytes: no platform calls, so it builds anywhere.
#include <cstddef>

// A block holds 16 entries, each a 16-bit little-endian count of UTF-16 units followed by that
// many units. True when entry `index` (0..15) lies wholly inside the block's `size` bytes;
// *offset is then the byte offset of its count. Nothing outside the block is read.
bool FindStringEntry(const unsigned char* block, std::size_t size, unsigned index,
                     std::size_t* offset);

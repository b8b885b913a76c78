#pragma once
// The processing-unit scan over bytes: no platform calls, so it builds anywhere (fuzzing).
#include <cstddef>
#include <cstdint>

// `set` is a configuration descriptor set as fetched, `available` the bytes the block holds
// from its start (wTotalLength may claim more or fewer). True when a processing unit with at
// least two bytes of bmControls lies inside the video-control interface; *powerLineFlag is then
// 1 when bit 10 of bmControls (the power-line frequency control) is set, else 0. Every field is
// read where the USB Video Class puts it, whatever the descriptor's bLength says; a byte outside
// min(wTotalLength, available) is never read, and needing one gives false.
bool ScanDescriptorSet(const std::uint8_t* set, std::size_t available,
                       std::uint32_t* powerLineFlag);

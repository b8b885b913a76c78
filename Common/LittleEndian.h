#pragma once
// Little-endian fields in byte buffers, whatever their alignment: the layout of the USB
// requests and replies, read and written alike by the locator and the virtual camera.
#include <cstdint>

inline std::uint16_t ReadLe16(const void* at) {
    const auto* b = static_cast<const std::uint8_t*>(at);
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

inline std::uint32_t ReadLe32(const void* at) {
    const auto* b = static_cast<const std::uint8_t*>(at);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

inline void WriteLe16(void* at, std::uint16_t value) {
    auto* b = static_cast<std::uint8_t*>(at);
    b[0] = static_cast<std::uint8_t>(value);
    b[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void WriteLe32(void* at, std::uint32_t value) {
    auto* b = static_cast<std::uint8_t*>(at);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

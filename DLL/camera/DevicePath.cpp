#include "DLL/camera/DevicePath.h"

#include <cstring>

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Literal at offset, ignoring letter case; false when the path ends before it.
bool TextAt(const char* path, std::size_t length, std::size_t offset, const char* literal) {
    const std::size_t count = std::strlen(literal);
    if (offset > length || length - offset < count) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (Lower(path[offset + i]) != Lower(literal[i])) return false;
    return true;
}

// A hexadecimal number read as far as hexadecimal digits reach, compared with the full value.
bool HexAt(const char* path, std::size_t length, std::size_t offset, unsigned value) {
    unsigned long number = 0;
    std::size_t digits = 0;
    for (std::size_t at = offset; at < length; ++at, ++digits) {
        const char c = Lower(path[at]);
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            break;
        // Anything beyond 16 bits cannot equal the value; saturate rather than wrap.
        number = number > 0xFFFF ? number : number * 16 + digit;
    }
    return digits > 0 && number == value;
}

}  // namespace

bool MatchDevicePath(const char* path, std::size_t length, std::uint16_t vendorId,
                     std::uint16_t productId, std::uint16_t interfaceNumber) {
    if (!path) return false;
    if (!TextAt(path, length, 0, "\\\\?\\USB#")) return false;
    if (!TextAt(path, length, 8, "Vid_") || !HexAt(path, length, 12, vendorId)) return false;
    if (!TextAt(path, length, 16, "&Pid_") || !HexAt(path, length, 21, productId)) return false;
    if (interfaceNumber < 256)
        return TextAt(path, length, 25, "&MI_") && HexAt(path, length, 29, interfaceNumber);
    return !TextAt(path, length, 25, "&MI_");
}

bool DeviceInstanceId(const char* path, std::size_t length, std::string* id) {
    if (!path || !id || length <= 4) return false;
    std::string text(path + 4, length - 4);
    if (text.size() <= 4 || text[3] != '#') return false;
    text[3] = '\\';
    const std::size_t second = text.find('#', 4);
    if (second == std::string::npos) return false;
    text[second] = '\\';
    const std::size_t third = text.find('#', second + 1);
    if (third == std::string::npos) return false;
    text.resize(third);
    *id = text;
    return true;
}

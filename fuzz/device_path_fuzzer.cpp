// Device paths: the match reads nothing past the text (which has no terminator here), agrees
// with the rule written plainly over a string, ignores letter case; the instance ID keeps the
// path's pieces in order, character 3 and the next '#' made '\'.
// Input: vendor ID, product ID, interface number (two bytes each), then the path.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DLL/camera/DevicePath.h"
#include "fuzz/FuzzCheck.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The number from `at` as far as hexadecimal digits reach: -1 without any, beyond 0xFFFF
// reported as 0x10000 (it cannot equal a 16-bit argument).
long HexFrom(const std::string& text, std::size_t at) {
    long value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at]));
         ++at, ++digits) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
        value = value * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
        if (value > 0xFFFF) value = 0x10000;
    }
    return digits ? value : -1;
}

bool PlainMatch(const std::string& path, unsigned vendor, unsigned product, unsigned interface) {
    const std::string text = Lower(path);
    auto literal = [&text](std::size_t at, const char* what) {
        return text.compare(at < text.size() ? at : text.size(), std::string(what).size(), what) ==
               0;
    };
    if (!literal(0, "\\\\?\\usb#") || !literal(8, "vid_") || HexFrom(text, 12) != long(vendor) ||
        !literal(16, "&pid_") || HexFrom(text, 21) != long(product))
        return false;
    if (interface < 256) return literal(25, "&mi_") && HexFrom(text, 29) == long(interface);
    return !literal(25, "&mi_");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const unsigned vendor = data[0] | data[1] << 8, product = data[2] | data[3] << 8;
    const unsigned interface = data[4] | data[5] << 8;
    const std::vector<char> path(data + 6, data + size);
    const bool match = MatchDevicePath(path.data(), path.size(), vendor, product, interface);
    const std::string text(path.begin(), path.end());
    FUZZ_CHECK(match == PlainMatch(text, vendor, product, interface));
    std::vector<char> upper(path);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FUZZ_CHECK(MatchDevicePath(upper.data(), upper.size(), vendor, product, interface) == match);

    std::string id;
    if (DeviceInstanceId(path.data(), path.size(), &id)) {
        FUZZ_CHECK(id.size() <= text.size() - 4);
        // Character 3 and the next '#' after it become '\\'; the text ends before the '#'
        // after those.
        std::string expected = text.substr(4, id.size());
        FUZZ_CHECK(expected.size() > 4 && expected[3] == '#');
        expected[3] = '\\';
        const std::size_t second = expected.find('#', 4);
        FUZZ_CHECK(second != std::string::npos);
        expected[second] = '\\';
        FUZZ_CHECK(id == expected);
        FUZZ_CHECK(expected.find('#', second + 1) == std::string::npos);
        FUZZ_CHECK(text.size() > 4 + id.size() && text[4 + id.size()] == '#');
    }
    return 0;
}

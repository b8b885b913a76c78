// The name in a hub driver's reply: taken only when its terminator lies inside the reply, and
// then exactly the code units before the first zero unit; bytes after it change nothing.
// Input: one byte of name offset, then the reply.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DLL/camera/HubReply.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t offset = data[0] % 16;
    std::vector<std::uint8_t> reply(data + 1, data + size);
    std::size_t units = 0;
    const bool found = FindReplyName(reply.data(), reply.size(), offset, &units);

    // The first zero unit from the offset that lies wholly inside the reply.
    bool terminated = false;
    std::size_t expected = 0;
    for (std::size_t at = offset; at + 2 <= reply.size(); at += 2, ++expected) {
        if (reply[at] == 0 && reply[at + 1] == 0) {
            terminated = true;
            break;
        }
    }
    FUZZ_CHECK(found == terminated);
    if (!found) return 0;
    FUZZ_CHECK(units == expected);
    FUZZ_CHECK(offset + 2 * units + 2 <= reply.size());

    const std::size_t end = offset + 2 * units + 2;
    if (end < reply.size()) {
        for (std::size_t i = end; i < reply.size(); ++i) reply[i] ^= 0x5A;
        std::size_t again = 0;
        FUZZ_CHECK(FindReplyName(reply.data(), reply.size(), offset, &again) && again == units);
        reply.resize(end);
        FUZZ_CHECK(FindReplyName(reply.data(), reply.size(), offset, &again) && again == units);
    }
    return 0;
}

#include "DLL/page/StringTable.h"

bool FindStringEntry(const unsigned char* block, std::size_t size, unsigned index,
                     std::size_t* offset) {
    if (block == nullptr || offset == nullptr) return false;
    const std::size_t units = size / 2;
    auto count = [block](std::size_t unit) {
        return static_cast<std::size_t>(block[2 * unit] | block[2 * unit + 1] << 8);
    };
    std::size_t at = 0;
    for (unsigned i = 0; i < index; ++i) {
        if (at >= units) return false;
        at += 1 + count(at);
    }
    if (at >= units || units - at - 1 < count(at)) return false;
    *offset = 2 * at;
    return true;
}

// String-table blocks: an entry is found only when it lies wholly inside the block, and it is
// the one reached by stepping over the entries before it. Input: one byte of index, then the
// block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DLL/page/StringTable.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned index = data[0] % 16;
    const std::vector<unsigned char> block(data + 1, data + size);
    std::size_t offset = 0;
    const bool found = FindStringEntry(block.data(), block.size(), index, &offset);

    // Step over whole entries while they fit.
    std::size_t at = 0;
    bool fits = true;
    for (unsigned i = 0; i <= index && fits; ++i) {
        if (at + 2 > block.size()) {
            fits = false;
            break;
        }
        const std::size_t units = block[at] | block[at + 1] << 8;
        const std::size_t next = at + 2 + 2 * units;
        if (i == index) {
            fits = next <= block.size();
        } else {
            at = next;
        }
    }
    FUZZ_CHECK(found == fits);
    if (found) {
        FUZZ_CHECK(offset == at && offset % 2 == 0);
        const std::size_t units = block[offset] | block[offset + 1] << 8;
        FUZZ_CHECK(offset + 2 + 2 * units <= block.size());
    }
    return 0;
}

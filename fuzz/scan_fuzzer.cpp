// The processing-unit scan: never a read outside the bytes given (the sanitizers watch), the
// same answer as the rule written plainly, in which a read outside min(wTotalLength, block)
// gives false, and an answer that no byte beyond that bound can change.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DLL/camera/DescriptorScan.h"
#include "fuzz/FuzzCheck.h"

namespace {

struct OutsideTheSet {};

// The rule as the USB Video Class reads: descriptor by descriptor, from the configuration
// descriptor's length on, while the offset (16 bits) is below wTotalLength.
struct PlainRule {
    const std::uint8_t* bytes;
    std::size_t bound;
    int Byte(std::size_t at) const {
        if (at >= bound) throw OutsideTheSet();
        return bytes[at];
    }
    // 1 or 0: the flag of the unit found; -1: none.
    int Run(std::size_t total) const {
        bool videoControl = false;
        std::size_t offset = Byte(0);
        while (offset < total) {
            const int length = Byte(offset);
            if (length == 0) return -1;
            const int type = Byte(offset + 1);
            if (type == 4) {
                videoControl = Byte(offset + 5) == 14 && Byte(offset + 6) == 1;
            } else if (type == 36) {
                if (videoControl && Byte(offset + 2) == 5 && Byte(offset + 7) >= 2)
                    return (Byte(offset + 9) & 0x04) ? 1 : 0;
            } else if (type != 5 && type != 11 && type != 37) {
                return -1;
            }
            if (offset + length > 0xFFFF) return -1;  // the 16-bit offset has left the set
            offset += length;
        }
        return -1;
    }
};

int Plain(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return -1;
    const std::size_t total = data[2] | data[3] << 8;
    try {
        return PlainRule{data, total < size ? total : size}.Run(total);
    } catch (const OutsideTheSet&) {
        return -1;
    }
}

int Scan(const std::uint8_t* data, std::size_t size) {
    std::uint32_t flag = 7;
    if (!ScanDescriptorSet(data, size, &flag)) {
        FUZZ_CHECK(flag == 7);  // written only on success
        return -1;
    }
    FUZZ_CHECK(flag == 0 || flag == 1);
    return static_cast<int>(flag);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int answer = Scan(data, size);
    FUZZ_CHECK(answer == Plain(data, size));
    if (size < 4) return 0;
    const std::size_t total = data[2] | data[3] << 8;
    const std::size_t bound = total < size ? total : size;
    if (bound < size) {
        // Whatever lies beyond the bound: other bytes, or none at all.
        std::vector<std::uint8_t> other(data, data + size);
        for (std::size_t i = bound; i < size; ++i) other[i] ^= 0xA5;
        FUZZ_CHECK(Scan(other.data(), other.size()) == answer);
        if (bound >= 4) {
            std::vector<std::uint8_t> cut(data, data + bound);
            FUZZ_CHECK(Scan(cut.data(), cut.size()) == answer);
        }
    }
    return 0;
}

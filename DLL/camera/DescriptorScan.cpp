#include "DLL/camera/DescriptorScan.h"

namespace {

const std::uint8_t InterfaceType = 4, EndpointType = 5, AssociationType = 11;
const std::uint8_t ClassInterfaceType = 36, ClassEndpointType = 37;
const std::uint8_t VideoClass = 14, VideoControlSubclass = 1, ProcessingUnitSubtype = 5;
// UVC 1.0 and 1.1 units carry two bytes of bmControls, UVC 1.5 three; bit 10 lies in both.
const std::uint8_t SmallestControlSize = 2;

// The bytes the scan may read: the set up to min(wTotalLength, what the block holds).
class BoundedBytes {
public:
    BoundedBytes(const std::uint8_t* bytes, std::size_t end) : bytes(bytes), end(end) {}
    bool Read(std::size_t at, std::uint8_t* value) const {
        if (at >= end) return false;
        *value = bytes[at];
        return true;
    }

private:
    const std::uint8_t* bytes;
    std::size_t end;
};

}  // namespace

bool ScanDescriptorSet(const std::uint8_t* set, std::size_t available,
                       std::uint32_t* powerLineFlag) {
    const std::size_t totalAt = 2;  // wTotalLength of the configuration descriptor
    if (!set || !powerLineFlag || available < totalAt + 2) return false;
    const std::size_t total = set[totalAt] | set[totalAt + 1] << 8;
    const BoundedBytes bytes(set, total < available ? total : available);

    std::uint8_t value = 0;
    bool videoControl = false;
    if (!bytes.Read(0, &value)) return false;
    std::size_t offset = value;
    while (offset < total) {
        std::uint8_t length = 0;
        if (!bytes.Read(offset, &length) || length == 0 || !bytes.Read(offset + 1, &value))
            return false;
        switch (value) {
        case InterfaceType:
            if (!bytes.Read(offset + 5, &value)) return false;
            videoControl = value == VideoClass;
            if (videoControl) {
                if (!bytes.Read(offset + 6, &value)) return false;
                videoControl = value == VideoControlSubclass;
            }
            break;
        case ClassInterfaceType:
            if (!videoControl) break;
            if (!bytes.Read(offset + 2, &value)) return false;
            if (value != ProcessingUnitSubtype) break;
            if (!bytes.Read(offset + 7, &value)) return false;
            if (value < SmallestControlSize) break;
            if (!bytes.Read(offset + 9, &value)) return false;
            *powerLineFlag = (value & 0x04) ? 1 : 0;
            return true;
        case EndpointType:
        case AssociationType:
        case ClassEndpointType:
            break;
        default:
            return false;
        }
        // The offset is 16 bits wide: a step past its range has left the set (and would
        // otherwise wrap round and walk the same descriptors for ever).
        offset += length;
        if (offset > 0xFFFF) return false;
    }
    return false;
}

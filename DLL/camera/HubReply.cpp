#include "DLL/camera/HubReply.h"

bool FindReplyName(const std::uint8_t* reply, std::size_t size, std::size_t offset,
                   std::size_t* units) {
    if (!reply || !units || offset > size) return false;
    for (std::size_t at = offset; size - at >= 2; at += 2) {
        if ((reply[at] | reply[at + 1]) == 0) {
            *units = (at - offset) / 2;
            return true;
        }
    }
    return false;
}

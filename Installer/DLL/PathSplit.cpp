#include "Installer/DLL/PathSplit.h"

PathParts SplitPathText(const char* path, std::size_t length, LeadByteTest isLeadByte,
                        const void* context) {
    PathParts parts;
    if (path == nullptr || length == 0) return parts;
    std::size_t start = 0;
    if (length >= 2 && path[1] == ':') {
        parts.driveLength = 2;
        start = 2;
    }
    std::size_t afterSeparator = start;  // end of the folder part
    std::size_t lastDot = 0;
    bool dotSeen = false;
    std::size_t i = start;
    while (i < length) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (isLeadByte != nullptr && isLeadByte(c, context) && i + 1 < length) {
            i += 2;
            continue;
        }
        if (c == '\\' || c == '/') {
            afterSeparator = i + 1;
            dotSeen = false;
        } else if (c == '.') {
            lastDot = i;
            dotSeen = true;
        }
        ++i;
    }
    parts.folderLength = afterSeparator - start;
    const std::size_t nameEnd = dotSeen ? lastDot : length;
    parts.nameLength = nameEnd - afterSeparator;
    parts.extensionLength = length - nameEnd;
    return parts;
}

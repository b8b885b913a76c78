#pragma once
// The installer's path-splitting rule, over text: no platform calls, so it builds anywhere.
#include <cstddef>

// The four parts of a path: drive ("C:" or empty), folder part (up to and
// including the last '\' or '/'), name, extension (from the last dot after the
// folder part). Each part is kept as a length; they follow one another in the text.
struct PathParts {
    std::size_t driveLength = 0;
    std::size_t folderLength = 0;  // starts at driveLength
    std::size_t nameLength = 0;    // starts after the folder part
    std::size_t extensionLength = 0;
};

// Whether a byte starts a double-byte character: the code page's rule, passed in.
using LeadByteTest = bool (*)(unsigned char byte, const void* context);

// Splits the first `length` bytes of `path`. The second byte of a double-byte character is
// never taken for a separator or a dot; a lead byte in the last place stands alone.
PathParts SplitPathText(const char* path, std::size_t length, LeadByteTest isLeadByte,
                        const void* context);

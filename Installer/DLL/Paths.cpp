#include "Installer/DLL/Paths.h"

#include <cstring>

bool PathText::Append(const char* s) { return s != nullptr && Append(s, std::strlen(s)); }

bool PathText::Append(const char* s, std::size_t count) {
    if (count >= MAX_PATH - length) {
        fits = false;
        return false;
    }
    std::memcpy(text + length, s, count);
    length += count;
    text[length] = '\0';
    return true;
}

bool PathText::DropLast() {
    if (length == 0) return false;
    text[--length] = '\0';
    return true;
}

namespace {

bool IsLeadByteOf(unsigned char byte, const void* codePage) {
    return IsDBCSLeadByteEx(*static_cast<const UINT*>(codePage), byte) != FALSE;
}

}  // namespace

PathParts SplitPath(const char* path, UINT codePage) {
    if (path == nullptr) return PathParts();
    return SplitPathText(path, std::strlen(path), IsLeadByteOf, &codePage);
}

bool DriveAndFolder(const char* path, PathText& out) {
    out.Clear();
    if (path == nullptr) return false;
    const PathParts parts = SplitPath(path);
    return out.Append(path, parts.driveLength + parts.folderLength);
}

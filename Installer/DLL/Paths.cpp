#include "Installer/DLL/Paths.h"

#include <cstring>

bool PathText::Append(const char* s)
{
    return s != nullptr && Append(s, std::strlen(s));
}

bool PathText::Append(const char* s, std::size_t count)
{
    if (count >= MAX_PATH - length_) {
        ok_ = false;
        return false;
    }
    std::memcpy(text_ + length_, s, count);
    length_ += count;
    text_[length_] = '\0';
    return true;
}

bool PathText::DropLast()
{
    if (length_ == 0)
        return false;
    text_[--length_] = '\0';
    return true;
}

PathParts SplitPath(const char* path, UINT codePage)
{
    PathParts parts;
    if (path == nullptr || path[0] == '\0')
        return parts;
    std::size_t start = 0;
    if (path[1] == ':') {
        parts.driveLength = 2;
        start = 2;
    }
    std::size_t afterSeparator = start;   // end of the folder part
    std::size_t lastDot = 0;
    bool dotSeen = false;
    std::size_t i = start;
    while (path[i] != '\0') {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsDBCSLeadByteEx(codePage, c) && path[i + 1] != '\0') {
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
    const std::size_t end = i;
    parts.folderLength = afterSeparator - start;
    const std::size_t nameEnd = dotSeen ? lastDot : end;
    parts.nameLength = nameEnd - afterSeparator;
    parts.extensionLength = end - nameEnd;
    return parts;
}

bool DriveAndFolder(const char* path, PathText& out)
{
    out.Clear();
    if (path == nullptr)
        return false;
    const PathParts parts = SplitPath(path);
    return out.Append(path, parts.driveLength + parts.folderLength);
}

#pragma once
#include <windows.h>
#include <cstddef>

#include "Installer/DLL/PathSplit.h"

// A path in the installer's fixed buffer size; every append is checked, and a
// failed one leaves the text as it was.
class PathText {
public:
    PathText() { text_[0] = '\0'; }
    explicit PathText(const char* s) { text_[0] = '\0'; ok_ = Append(s); }

    bool Append(const char* s);
    bool Append(const char* s, std::size_t count);
    // Removes the last character (a trailing separator); false when empty.
    bool DropLast();
    void Clear() { text_[0] = '\0'; length_ = 0; ok_ = true; }

    const char* c_str() const { return text_; }
    std::size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }
    // False once any append did not fit.
    bool ok() const { return ok_; }

private:
    char text_[MAX_PATH];
    std::size_t length_ = 0;
    bool ok_ = true;
};

// The second byte of a double-byte character of the given code page is never
// taken for a separator or a dot.
PathParts SplitPath(const char* path, UINT codePage = CP_ACP);

// Drive and folder part of a path, joined; false when the path is too long.
bool DriveAndFolder(const char* path, PathText& out);

#pragma once
#include <windows.h>
#include <cstddef>

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

// The four parts of a path: drive ("C:" or empty), folder part (up to and
// including the last '\' or '/'), name, extension (from the last dot after the
// folder part). Each part is kept as offset and length into the original text.
struct PathParts {
    std::size_t driveLength = 0;
    std::size_t folderLength = 0;   // starts at driveLength
    std::size_t nameLength = 0;     // starts after the folder part
    std::size_t extensionLength = 0;
};

// The second byte of a double-byte character of the given code page is never
// taken for a separator or a dot.
PathParts SplitPath(const char* path, UINT codePage = CP_ACP);

// Drive and folder part of a path, joined; false when the path is too long.
bool DriveAndFolder(const char* path, PathText& out);

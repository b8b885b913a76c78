#pragma once
#include <windows.h>
#include <cstddef>

#include "Installer/DLL/PathSplit.h"

// A path in the installer's fixed buffer size; every append is checked, and a
// failed one leaves the text as it was.
class PathText {
public:
    PathText() { text[0] = '\0'; }
    explicit PathText(const char* s) {
        text[0] = '\0';
        fits = Append(s);
    }

    bool Append(const char* s);
    bool Append(const char* s, std::size_t count);
    // Removes the last character (a trailing separator); false when empty.
    bool DropLast();
    void Clear() {
        text[0] = '\0';
        length = 0;
        fits = true;
    }

    const char* c_str() const { return text; }
    std::size_t size() const { return length; }
    bool empty() const { return length == 0; }
    // False once any append did not fit.
    bool ok() const { return fits; }

private:
    char text[MAX_PATH];
    std::size_t length = 0;
    bool fits = true;
};

// The second byte of a double-byte character of the given code page is never
// taken for a separator or a dot.
PathParts SplitPath(const char* path, UINT codePage = CP_ACP);

// Drive and folder part of a path, joined; false when the path is too long.
bool DriveAndFolder(const char* path, PathText& out);

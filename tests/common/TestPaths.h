#pragma once
#include <string>

// Folder of the running test program, with a trailing backslash: every built binary lies there.
std::string BinFolder();

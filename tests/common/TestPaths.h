#pragma once
#include <string>

// Folder of the running test program, with a trailing backslash: every built binary lies there.
std::string BinFolder();

// Unix path of a Windows path, through Wine's own converter; empty when there is none.
std::string UnixPath(const std::string& windowsPath);

// Starts a Unix shell command line ("sh -c"). Wine cannot wait for a Unix process: the caller
// watches for its effect.
bool StartUnixCommand(const std::string& command);

// The tests' own cleanup: every file (read-only ones too) and subfolder, then the folder.
// True when the folder is gone.
bool RemoveTree(const std::string& folder);

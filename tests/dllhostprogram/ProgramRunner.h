#pragma once
// Runs the built programs as a user or script would, and reads what they leave behind.
#include <windows.h>
#include <string>
#include <vector>

#include "tests/common/TestPaths.h"

struct ProgramResult {
    int exitCode = -1;   // -1: the program could not be started or did not end in time
    std::string output;  // stdout and stderr together, CR removed
};

// commandLine's first word is the program; it runs in its own folder.
ProgramResult RunProgram(const std::string& commandLine);

// Runs the program, without arguments, under a system locale (an LC_ALL value, such as
// "ja_JP.UTF-8"), which decides its ANSI code page.
ProgramResult RunProgramInLocale(const std::string& locale, const std::string& program);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
bool CopyInto(const std::string& from, const std::string& to);
bool WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);
// Names of the entries of a folder, sorted; empty when the folder is absent.
std::vector<std::string> FolderEntries(const std::string& folder);

bool RegistryKeyExists(HKEY root, const std::string& path);
bool ReadRegistryDword(HKEY root, const std::string& path, const char* name, DWORD* value);
std::string ReadRegistryString(HKEY root, const std::string& path, const char* name);

// The folder that programs see as the common desktop / programs folder.
std::string SpecialFolder(int csidl);

#pragma once
// What the acceptance host needs besides the SDK, written on the platform alone: the MSVC-mode
// build has no C runtime.
#include <windows.h>

#include "KOVALTIX.h"

// printf-like, for %s %d %ld %u %lu %x %p only; always terminated.
void Format(char* out, unsigned size, const char* format, ...);
void Print(const char* format, ...);
// Counts the check and prints "PASS name" or "FAIL name: detail".
void Expect(bool ok, const char* name, const char* detail, ...);
// Prints the totals; the process's exit code.
int Finish();

void FillBytes(void* to, int value, unsigned size);
void CopyText(char* to, unsigned size, const char* text);
bool TextEquals(const char* a, const char* b);
unsigned TextLength(const char* text, unsigned size);

bool FileExists(const char* path);
bool FolderExists(const char* path);
// Deletes what an uninstall must leave (files in use) once they are free, and the folder.
void RemoveLeftovers(const char* folder);

// A top-level window for the page, after registering the trackbar class.
HWND CreateHostWindow();

#if defined(_MSC_VER)
// Calls the imported constructor on `memory` and returns what it returned.
KOVALTIX* ConstructThroughImport(void* memory);
#endif

int RunAcceptance(int argc, char** argv);

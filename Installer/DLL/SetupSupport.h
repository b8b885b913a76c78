#pragma once
#include "Installer/DLL/BRALIMOND.h"
#include "Installer/DLL/Paths.h"

// The record's texts, each confirmed to end inside its field.
struct ContextTexts {
    const char* baseFolder = nullptr;
    const char* parentFolder = nullptr;
    const char* productFolder = nullptr;
    const char* productName = nullptr;
    const char* displayName = nullptr;
};

// False for an unterminated field, or a parent folder, product folder, product name or display
// name that is not a name (PlainName).
bool ReadContextTexts(const InstallContext& context, ContextTexts& texts);

// The field's text when it names one folder or file: null when it does not end inside the
// field, is empty, "." or "..", or holds a separator or a drive colon. Any of those would make
// a path or key built from it reach outside the folder or key it names a member of.
const char* PlainName(const char* field, std::size_t size);
template <std::size_t N>
const char* PlainName(const char (&field)[N]) {
    return PlainName(field, N);
}

// The first of `characters` in `text`, read as the ANSI code page reads it: the second byte of a
// double-byte character is none of them. Null when there is none.
const char* FindCharacter(const char* text, const char* characters);

// True when the product's Uninstall entry runs a setup program that lies in `folder`.
bool EntryNamesFolder(const char* productName, const char* folder);

// baseFolder\parentFolder\productFolder, joined as given.
bool InstallationFolder(const ContextTexts& texts, PathText& out);

// Drive and folder part of the module's file, ending in a separator.
bool ModuleFolder(HMODULE module, PathText& out);

bool SystemDirectory(PathText& out);

// The named special folder, not created when missing.
bool SpecialFolder(HWND owner, int csidl, PathText& out);

// True when both paths name the same folder, ignoring letter case, separator
// doubling and a trailing separator.
bool SameFolder(const char* a, const char* b);

extern const char UninstallKeyPath[];
extern const char SettingsSection[];
extern const char DesktopEntry[];
extern const char StartMenuEntry[];

// Starts `application` by its full path with `commandLine` as its command
// line text, waits for it to end and reads its exit code.
bool RunAndWait(const char* application, char* commandLine, DWORD& exitCode);

#pragma once
#include <windows.h>

// Saves a shell shortcut "<folder>\<name>.lnk". The folder is the special
// folder `csidl` (created if missing) followed by `subfolder`, or, with csidl
// -1, `subfolder` itself. A null description becomes the name; a null working
// directory becomes the folder of the target.
bool CreateShortcut(const char* target, const char* name, const char* description, HWND owner,
                    int csidl, const char* subfolder, const char* arguments,
                    const char* workingDirectory, int showCommand, const char* iconPath,
                    int iconIndex);

// True when some process has the file at `path` loaded as a module, under whatever spelling of
// its path.
bool IsModuleLoaded(const char* path);

// True when the folder exists or was created together with its missing parents.
bool CreateFolderTree(const char* path);

// Deletes the folder's files (read-only ones too), its subfolders and the
// folder itself, going on after failures. True when everything went, or when
// the folder can't be listed at all.
bool RemoveFolderTree(const char* path);

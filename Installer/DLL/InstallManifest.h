#pragma once
#include <cstddef>
#include <cstdint>

enum ManifestKind : std::int32_t {
    SetupProgram = 0,  // source -> installation folder; the uninstall command
    SettingsFile = 1,  // source -> installation folder; receives the shortcut choices
    MainProgram = 2,   // source -> installation folder; the shortcuts' target
    ProductFile = 3,   // source -> installation folder
    DriverFile = 4,    // source\driver -> installation\driver
    DriverInf = 5,     // source\driver -> installation\driver; its folder goes to DPInst
    SystemFile = 6,    // source -> system directory
    EndOfManifest = 7,
};

struct ManifestEntry {
    std::int32_t kind;
    const char* baseName;
    const char* extension;  // begins with the dot
};

// Ends at the first entry of kind EndOfManifest. Order matters: it decides
// what is on disk when a copy fails.
extern const ManifestEntry InstallManifest[];

// The one entry of the given kind (0, 1, 2, 5 or 6 appear once).
const ManifestEntry* FindManifestEntry(std::int32_t kind);

// The file name of the platform's driver package installer, one of the product files.
extern const char* const DriverInstallerFile;

// The installation's subfolder for the driver package.
extern const char DriverFolder[];

// The longest tail a file adds to the installation folder ("\driver\<file>" or "\<file>"),
// terminating zero included: with it, an installation folder's length fits MAX_PATH.
std::size_t LongestInstalledTail();

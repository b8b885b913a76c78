#include "Installer/DLL/InstallManifest.h"

#include <cstring>

const ManifestEntry InstallManifest[] = {
#define MANIFEST_ENTRY(kind, base, extension, role) {kind, base, extension},
#include "Installer/DLL/InstallManifest.inc"
#undef MANIFEST_ENTRY
    {EndOfManifest, nullptr, nullptr},
};

const ManifestEntry* FindManifestEntry(std::int32_t kind) {
    for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e)
        if (e->kind == kind) return e;
    return nullptr;
}

namespace {
enum ManifestRole { Copied, DriverInstaller };
}

const char* const DriverInstallerFile =
#define MANIFEST_ENTRY(kind, base, extension, role) role == DriverInstaller ? base extension:
#include "Installer/DLL/InstallManifest.inc"
#undef MANIFEST_ENTRY
    "";

const char DriverFolder[] = "driver";

std::size_t LongestInstalledTail() {
    std::size_t longest = 0;
    for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e) {
        if (e->kind == SystemFile) continue;
        const bool driver = e->kind == DriverFile || e->kind == DriverInf;
        const std::size_t tail = 1 + (driver ? sizeof DriverFolder : 0) + std::strlen(e->baseName) +
                                 std::strlen(e->extension) + 1;
        if (tail > longest) longest = tail;
    }
    return longest;
}

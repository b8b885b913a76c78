#pragma once
#include <windows.h>
#include <cstddef>

// Filled by the setup program and passed by pointer to both exports. The two
// sides are built separately, so the layout is fixed to the byte.
#pragma pack(push, 1)
struct InstallContext {
    HMODULE module;        // its folder: source for Installer, installation folder for Uninstaller
    HWND ownerWindow;      // owner of every special-folder lookup
    char baseFolder[261];
    char parentFolder[257];
    char productFolder[257];
    char productName[256];
    char displayName[256];
    unsigned char desktopShortcut;
    unsigned char startMenuShortcut;
};
#pragma pack(pop)

// The handles are pointer-wide; every later field moves with them.
constexpr std::size_t kInstallContextHandleShift = 2 * (sizeof(void*) - 4);

static_assert(offsetof(InstallContext, module) == 0, "module");
static_assert(offsetof(InstallContext, ownerWindow) == 4 + kInstallContextHandleShift / 2, "ownerWindow");
static_assert(offsetof(InstallContext, baseFolder) == 8 + kInstallContextHandleShift, "baseFolder");
static_assert(offsetof(InstallContext, parentFolder) == 269 + kInstallContextHandleShift, "parentFolder");
static_assert(offsetof(InstallContext, productFolder) == 526 + kInstallContextHandleShift, "productFolder");
static_assert(offsetof(InstallContext, productName) == 783 + kInstallContextHandleShift, "productName");
static_assert(offsetof(InstallContext, displayName) == 1039 + kInstallContextHandleShift, "displayName");
static_assert(offsetof(InstallContext, desktopShortcut) == 1295 + kInstallContextHandleShift, "desktopShortcut");
static_assert(offsetof(InstallContext, startMenuShortcut) == 1296 + kInstallContextHandleShift, "startMenuShortcut");
static_assert(sizeof(InstallContext) == 1297 + kInstallContextHandleShift, "InstallContext size");

#if !defined(_WIN64)
// The deliverable's layout, spelled out.
static_assert(sizeof(void*) == 4, "32-bit handles");
static_assert(offsetof(InstallContext, ownerWindow) == 4, "ownerWindow");
static_assert(offsetof(InstallContext, baseFolder) == 8, "baseFolder");
static_assert(offsetof(InstallContext, parentFolder) == 269, "parentFolder");
static_assert(offsetof(InstallContext, productFolder) == 526, "productFolder");
static_assert(offsetof(InstallContext, productName) == 783, "productName");
static_assert(offsetof(InstallContext, displayName) == 1039, "displayName");
static_assert(offsetof(InstallContext, desktopShortcut) == 1295, "desktopShortcut");
static_assert(offsetof(InstallContext, startMenuShortcut) == 1296, "startMenuShortcut");
static_assert(sizeof(InstallContext) == 1297, "InstallContext size");
#else
static_assert(offsetof(InstallContext, ownerWindow) == 8, "ownerWindow");
static_assert(offsetof(InstallContext, baseFolder) == 16, "baseFolder");
static_assert(offsetof(InstallContext, parentFolder) == 277, "parentFolder");
static_assert(offsetof(InstallContext, productFolder) == 534, "productFolder");
static_assert(offsetof(InstallContext, productName) == 791, "productName");
static_assert(offsetof(InstallContext, displayName) == 1047, "displayName");
static_assert(offsetof(InstallContext, desktopShortcut) == 1303, "desktopShortcut");
static_assert(offsetof(InstallContext, startMenuShortcut) == 1304, "startMenuShortcut");
static_assert(sizeof(InstallContext) == 1305, "InstallContext size");
#endif

// The two exports. cdecl, undecorated through BRALIMOND.def.
extern "C" bool Installer(const InstallContext* context);
extern "C" bool Uninstaller(const InstallContext* context);

/* The installer library's interface for a setup program, in C or C++: fill an InstallContext
   and pass it to Installer or Uninstaller (BRALIMOND.dll). */
#pragma once

#include <windows.h>
#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(BRALIMOND_BUILDING)
#define BRALIMOND_API
#else
#define BRALIMOND_API __declspec(dllimport)
#endif

/* The setup program and the library are built separately: the layout is fixed to the byte.
   Texts are zero-terminated, in the system's ANSI code page. */
#pragma pack(push, 1)
typedef struct InstallContext {
    HMODULE module;   /* its folder: the source for Installer, the installation for Uninstaller */
    HWND ownerWindow; /* owner of every special-folder lookup */
    char baseFolder[261];
    char parentFolder[257];
    char productFolder[257];
    char productName[256];
    char displayName[256];
    unsigned char desktopShortcut;
    unsigned char startMenuShortcut;
} InstallContext;
#pragma pack(pop)

#if defined(__cplusplus)
#define BRALIMOND_LAYOUT(field, holds) static_assert(holds, #field)
#else
#define BRALIMOND_LAYOUT(field, holds) typedef char bralimond_layout_##field[(holds) ? 1 : -1]
#endif

#if !defined(_WIN64)
BRALIMOND_LAYOUT(module, offsetof(InstallContext, module) == 0);
BRALIMOND_LAYOUT(ownerWindow, offsetof(InstallContext, ownerWindow) == 4);
BRALIMOND_LAYOUT(baseFolder, offsetof(InstallContext, baseFolder) == 8);
BRALIMOND_LAYOUT(parentFolder, offsetof(InstallContext, parentFolder) == 269);
BRALIMOND_LAYOUT(productFolder, offsetof(InstallContext, productFolder) == 526);
BRALIMOND_LAYOUT(productName, offsetof(InstallContext, productName) == 783);
BRALIMOND_LAYOUT(displayName, offsetof(InstallContext, displayName) == 1039);
BRALIMOND_LAYOUT(desktopShortcut, offsetof(InstallContext, desktopShortcut) == 1295);
BRALIMOND_LAYOUT(startMenuShortcut, offsetof(InstallContext, startMenuShortcut) == 1296);
BRALIMOND_LAYOUT(size, sizeof(InstallContext) == 1297);
#else
/* The 64-bit twin: pointer-wide handles move every later field by 8 bytes. */
BRALIMOND_LAYOUT(module, offsetof(InstallContext, module) == 0);
BRALIMOND_LAYOUT(ownerWindow, offsetof(InstallContext, ownerWindow) == 8);
BRALIMOND_LAYOUT(baseFolder, offsetof(InstallContext, baseFolder) == 16);
BRALIMOND_LAYOUT(parentFolder, offsetof(InstallContext, parentFolder) == 277);
BRALIMOND_LAYOUT(productFolder, offsetof(InstallContext, productFolder) == 534);
BRALIMOND_LAYOUT(productName, offsetof(InstallContext, productName) == 791);
BRALIMOND_LAYOUT(displayName, offsetof(InstallContext, displayName) == 1047);
BRALIMOND_LAYOUT(desktopShortcut, offsetof(InstallContext, desktopShortcut) == 1303);
BRALIMOND_LAYOUT(startMenuShortcut, offsetof(InstallContext, startMenuShortcut) == 1304);
BRALIMOND_LAYOUT(size, sizeof(InstallContext) == 1305);
#endif
#undef BRALIMOND_LAYOUT

#ifdef __cplusplus
extern "C" {
#endif

/* Copies the software and the driver package into place, registers the Uninstall entry,
   creates the chosen shortcuts and runs the driver package installer. */
BRALIMOND_API bool __cdecl Installer(const InstallContext* context);

/* Removes all of that again; context->module must lie in the installation folder. */
BRALIMOND_API bool __cdecl Uninstaller(const InstallContext* context);

#ifdef __cplusplus
}
#endif

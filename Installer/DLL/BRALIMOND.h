/* The installer library's interface for a setup program, in C or C++: fill an InstallContext
   and pass it to Installer or Uninstaller (BRALIMOND.dll).

   The source folder, the folder of context->module (the setup program's own, usually), holds
   the whole installation, which Installer copies in this order:
     MERSIVO.exe      the setup program itself: the Uninstall entry runs it with /uninstall
     Installer.ini    the settings file; gets section [Installer], the shortcut choices
     License.txt, BRALIMOND.dll
     KOVALTIX.exe     the host program: the program shortcuts start it
     DPInst.exe       the driver package installer
     KOVALTIX.dll     goes into the system directory, not the installation folder
     driver\          VK4M220FL.inf, vk4m220flamd64.cat, VK4M220FLamd64.sys,
                      VK4M220FUamd64.sys, vk4m220flx86.cat, VK4M220FLx86.sys,
                      VK4M220FUx86.sys, Driver_Release.txt */
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
   Texts are zero-terminated, in the system's ANSI code page. The four names are each one file
   name: one that is empty, "." or "..", or holds \ / or :, or a path built from the texts that
   would reach 260 characters, makes either call return false having done nothing (and
   * ? " < > | make a copy or a shortcut fail midway). */
#pragma pack(push, 1)
typedef struct InstallContext {
    HMODULE module;   /* its folder: the source for Installer, the installation for Uninstaller */
    HWND ownerWindow; /* owner of every special-folder lookup */
    /* The installation folder is baseFolder\parentFolder\productFolder, created as needed;
       Uninstaller removes that last folder, never the two above it. */
    char baseFolder[261]; /* a full path, e.g. C:\Program Files */
    char parentFolder[257];
    /* Also the Start-menu folder (in the common Programs folder) that holds both shortcuts. */
    char productFolder[257];
    /* The Uninstall entry's key, <productName> under
       HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall; and "<productName>.lnk", the
       program shortcut to KOVALTIX.exe on the common desktop and in the Start-menu folder. */
    char productName[256];
    /* The entry's DisplayName; and "<displayName>.lnk" in the Start-menu folder, which runs
       MERSIVO.exe /uninstall. */
    char displayName[256];
    unsigned char desktopShortcut;   /* nonzero: the desktop shortcut */
    unsigned char startMenuShortcut; /* nonzero: the Start-menu folder with its two shortcuts */
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

/* Copies the files (creating the folders), registers the Uninstall entry (DisplayName, and
   UninstallString "<installation folder>\MERSIVO.exe" /uninstall), creates the chosen shortcuts
   and records the choices in the installed Installer.ini, then runs the installed
   DPInst.exe /q /lm /se /f /sa /sw /path "<installation folder>\driver" and waits for it.
   True only when every step worked and DPInst ended with exit code 1: the package installed on
   a present camera. Any other code is false with everything else in place (0x100: the package
   only went into the driver store, as when no camera is plugged in).
   A failure stops the sequence where it happens and nothing is rolled back: a file that can't
   be copied (missing from the source folder, or in use, like a loaded KOVALTIX.dll in the
   system directory) leaves the files before it copied and no Uninstall entry; a failed shortcut
   leaves the files and the entry. Once the entry exists, its command undoes what was done. */
BRALIMOND_API bool __cdecl Installer(const InstallContext* context);

/* Undoes Installer for the installation folder that context->module lies in: called by
   MERSIVO.exe /uninstall from that folder, with the productFolder and productName the
   installation was made with (the other texts are not read). In order, each step only when the
   ones before worked: refuses while any process has the system directory's KOVALTIX.dll loaded;
   runs the installed DPInst.exe /u "<installation folder>\driver\VK4M220FL.inf" /d /q, which
   must end with exit code 0; deletes the shortcuts Installer.ini records, the system directory's
   KOVALTIX.dll, the Uninstall entry, and last the installation folder, when the entry named it.
   Files in use there (the running setup program, BRALIMOND.dll) stay and do not make it fail.
   After a failure the rest stays in place, the entry too, so the command can be run again. */
BRALIMOND_API bool __cdecl Uninstaller(const InstallContext* context);

#ifdef __cplusplus
}
#endif

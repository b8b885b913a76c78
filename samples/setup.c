/* The smallest setup program for BRALIMOND.dll, in C. Built as MERSIVO.exe, the name the
   installation's file list gives the setup program:
     MERSIVO              installs from its own folder into %ProgramFiles%\Kovaltix\Kovaltix Camera
     MERSIVO /uninstall   the command the Uninstall entry runs: removes the installation it lies in
   Its folder must hold every file of the installation (BRALIMOND.h lists them). Exit status 0
   when the library reported success.

   Build it against the SDK in <sdk> (i686 for the 32-bit setup that ships):
     MinGW:  i686-w64-mingw32-gcc -static -I <sdk>/include setup.c -L <sdk>/lib -lBRALIMOND
             -o MERSIVO.exe
     MSVC:   cl /I <sdk>\include setup.c <sdk>\lib\BRALIMOND.lib /Fe:MERSIVO.exe
     MSVC mode on Linux: see msvcrt-entry.c
     CMake:  CMakeLists.txt beside this file */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "BRALIMOND.h"

int main(int argc, char** argv) {
    const bool uninstall = argc > 1 && lstrcmpiA(argv[1], "/uninstall") == 0;
    InstallContext context;
    memset(&context, 0, sizeof context);
    /* This program's folder: the source for Installer, the installation for Uninstaller. */
    context.module = GetModuleHandleA(NULL);
    const DWORD length =
        GetEnvironmentVariableA("ProgramFiles", context.baseFolder, sizeof context.baseFolder);
    if (length == 0 || length >= sizeof context.baseFolder) return 2;
    /* Uninstaller finds the Start-menu folder and the Uninstall entry by these two names: give
       it the ones the installation was made with. */
    lstrcpynA(context.parentFolder, "Kovaltix", sizeof context.parentFolder);
    lstrcpynA(context.productFolder, "Kovaltix Camera", sizeof context.productFolder);
    lstrcpynA(context.productName, "Kovaltix Camera", sizeof context.productName);
    lstrcpynA(context.displayName, "Uninstall Kovaltix Camera", sizeof context.displayName);
    context.desktopShortcut = 1;
    context.startMenuShortcut = 1;

    /* Both block until the driver package installer has ended. */
    const bool done = uninstall ? Uninstaller(&context) : Installer(&context);
    printf("%s %s\n", uninstall ? "Uninstaller" : "Installer", done ? "succeeded" : "failed");
    return done ? 0 : 1;
}

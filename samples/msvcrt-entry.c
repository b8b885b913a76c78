/* Only for programs built in MSVC mode on Linux, where Microsoft's C runtime is not at hand:
   msvcrt.dll, which every Windows has, serves as the C runtime, and this is the program's entry
   point in place of the runtime's own. A Visual Studio build leaves this file out.

   What it takes: clang 19 and lld (Debian's clang-19, lld-19), Wine's Windows headers in place of
   the Windows SDK's (libwine-dev; <sdk>/share/kovaltix/msvc-mode.rsp points clang at them) and
   MinGW-w64's import libraries. For 32-bit programs against the i686 SDK (for 64-bit ones read
   x86_64 for i686):
     clang-19 --target=i686-pc-windows-msvc @<sdk>/share/kovaltix/msvc-mode.rsp -D_MSVCR_VER=0
         -fno-exceptions -I <sdk>/include -c host.cpp setup.c msvcrt-entry.c
     lld-link-19 /entry:mainCRTStartup /subsystem:console /nodefaultlib /safeseh:no
         /libpath:/usr/i686-w64-mingw32/lib /out:host.exe host.o msvcrt-entry.o
         <sdk>/lib/KOVALTIX.lib libmsvcrt.a libkernel32.a libuser32.a libcomctl32.a
     lld-link-19 (the same options) /out:MERSIVO.exe setup.o msvcrt-entry.o
         <sdk>/lib/BRALIMOND.lib libmsvcrt.a libkernel32.a
   -D_MSVCR_VER=0: the headers' msvcrt.dll declarations. -fno-exceptions: MinGW's msvcrt import
   library lacks the handler C++ exceptions need. A program that uses new and delete defines those
   operators itself. */
#include <stdlib.h>

typedef struct {
    int newMode;
} StartupInfo;
/* msvcrt.dll's command-line split, the one its own start-up uses. */
int __cdecl __getmainargs(int* argc, char*** argv, char*** environment, int expandWildcards,
                          StartupInfo* info);

int main(int argc, char** argv);

void __cdecl mainCRTStartup(void) {
    int argc = 0;
    char** argv = NULL;
    char** environment = NULL;
    StartupInfo info = {0};
    if (__getmainargs(&argc, &argv, &environment, 0, &info) < 0) exit(255);
    /* exit, not a return: msvcrt flushes the output streams first. */
    exit(main(argc, argv));
}

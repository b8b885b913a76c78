/* Only for hosts built in MSVC mode on Linux (clang and lld-link, see the README), where
   Microsoft's C runtime is not at hand: msvcrt.dll, which every Windows has, serves as the C
   runtime, and this is the program's entry point in place of the runtime's own. A Visual Studio
   build leaves this file out. */
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

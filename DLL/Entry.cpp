#include <windows.h>
#include "DLL/props/PropertyTable.h"

// The loader is always told success: without a camera the library stays loaded but inert.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        StartUp(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        ShutDown();
    }
    return TRUE;
}

#include <windows.h>
#include "DLL/props/PropertyTable.h"
#if defined(KOVALTIX_VIRTUAL_CAMERA)
#include "VirtualCamera/VirtualCamera.h"
#endif

// The loader is always told success: without a camera the library stays loaded but inert.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
#if defined(KOVALTIX_VIRTUAL_CAMERA)
        // The demo build: a camera is plugged in before the bus is walked.
        vcam::PlugStandardCameraForDemo();
#endif
        StartUp(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        ShutDown();
    }
    return TRUE;
}

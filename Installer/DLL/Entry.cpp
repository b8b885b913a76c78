#include <windows.h>

// The library keeps no state, so no notification needs any work.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

/* VK4M220FU: the extension-unit library, a kernel-mode export driver. It holds the camera's
 * extension-unit request rule (XuTransfer.cpp) for the upper filter VK4M220FL, which imports
 * it; the platform loads it from the drivers folder with its importer and never starts it as a
 * driver of its own. */
#include <ntddk.h>

NTSTATUS WINAPI DllInitialize(UNICODE_STRING* registryPath) {
    (void)registryPath;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI DllUnload(void) { return STATUS_SUCCESS; }

/* Required of every kernel image; an export driver's is never called. */
NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    (void)driver;
    (void)registryPath;
    return STATUS_SUCCESS;
}

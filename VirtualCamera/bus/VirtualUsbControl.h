#pragma once
/* The virtual USB bus's own control device, \\.\KovaltixVirtualUsb: how tests, the demo and
 * the driver installer stand-in plug and unplug the virtual hardware and read what the camera
 * holds. Buffered requests of device type 0x8000; plain C, for kernel and user-mode sources. */
#include <stdint.h>

#define VUSB_CONTROL_NAME L"KovaltixVirtualUsb"
#define VUSB_CONTROL_PATH "\\\\.\\KovaltixVirtualUsb"

/* CTL_CODE(0x8000, function, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define VUSB_REQUEST(function) ((0x8000u << 16) | ((function) << 2))

/* Input: a VusbScene followed by its pool. Unplugs what was there, then plugs the scene in. */
#define IOCTL_VUSB_PLUG_BUS VUSB_REQUEST(0x800)
/* No input: every controller, hub and the camera go. */
#define IOCTL_VUSB_UNPLUG_BUS VUSB_REQUEST(0x801)
/* Input: a uint32_t, 1 to plug the scene's camera in, 0 to pull it out. */
#define IOCTL_VUSB_PLUG_CAMERA VUSB_REQUEST(0x802)
/* Output: a VusbBusStatus. */
#define IOCTL_VUSB_STATUS VUSB_REQUEST(0x803)
/* Input: a uint16_t selector. Output: a VusbCameraReading. */
#define IOCTL_VUSB_CAMERA_VALUE VUSB_REQUEST(0x804)
/* Input: a uint32_t, 1 for a camera that answers no vendor request (each is held until its sender
 * cancels it, or the camera leaves), 0 for one that answers again. */
#define IOCTL_VUSB_CAMERA_HOLD VUSB_REQUEST(0x805)

typedef struct VusbBusStatus {
    uint32_t busPlugged;
    uint32_t cameraPlugged;    /* the camera is on its port and reported to the platform */
    uint32_t cameraEnumerated; /* the platform has looked for the reported camera's driver */
    uint32_t cameraStarted;    /* ... and started it: its driver is loaded */
    uint32_t departedAlive; /* cameras pulled out whose device objects the platform still holds */
    uint32_t plugCount;     /* cameras reported since the bus came up */
    uint32_t heldRequests;  /* vendor requests the camera holds now */
} VusbBusStatus;

typedef struct VusbCameraReading {
    uint32_t known; /* the camera has a value for the selector */
    uint32_t value;
} VusbCameraReading;

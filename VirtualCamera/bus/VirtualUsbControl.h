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

/* Input: a uint32_t, the system power state the machine goes to: VUSB_SYSTEM_SLEEP (S3),
 * VUSB_SYSTEM_HIBERNATE (S4) or VUSB_SYSTEM_WORKING (waking). As the power manager does, the bus
 * sends the system power request to the top of the camera's stack, and answers once the stack has
 * taken it. Asleep, the camera's port is suspended, or off in a hibernation and where the scene
 * says that it loses power in a sleep: the camera then comes back with its power-on values. */
#define IOCTL_VUSB_SYSTEM_POWER VUSB_REQUEST(0x806)
#define VUSB_SYSTEM_WORKING 1   /* PowerSystemWorking */
#define VUSB_SYSTEM_SLEEP 4     /* PowerSystemSleeping3 */
#define VUSB_SYSTEM_HIBERNATE 5 /* PowerSystemHibernate */
/* Input: a uint32_t, 1 for the class driver to put the idle camera into low power (selective
 * suspend), 0 to bring it back. The bus asks the class driver stand-in with
 * IOCTL_VUSB_IDLE_CAMERA, down the camera's stack, and answers once it has done so. */
#define IOCTL_VUSB_CAMERA_IDLE VUSB_REQUEST(0x807)
/* Internal request to the class driver stand-in, through the camera's stack:
 * Parameters.Others.Argument1 nonzero to idle the camera, null to wake it. */
#define IOCTL_VUSB_IDLE_CAMERA ((0x8000u << 16) | (0x808u << 2) | 3u)

/* Input: a uint32_t, milliseconds (at most 10000). The camera is pulled out that much later, while
 * whatever the caller does next goes on: the request answers at once. */
#define IOCTL_VUSB_CAMERA_OUT_LATER VUSB_REQUEST(0x809)

typedef struct VusbBusStatus {
    uint32_t busPlugged;
    uint32_t cameraPlugged;    /* the camera is on its port and reported to the platform */
    uint32_t cameraEnumerated; /* the platform has looked for the reported camera's driver */
    uint32_t cameraStarted;    /* ... and started it: its driver is loaded */
    uint32_t departedAlive;   /* cameras pulled out whose device objects the platform still holds */
    uint32_t plugCount;       /* cameras reported since the bus came up */
    uint32_t heldRequests;    /* vendor requests the camera holds now */
    uint32_t cameraPower;     /* the reported camera's device power state: 1 (D0) to 4 (D3) */
    uint32_t requestsBelowD0; /* requests that reached the camera while it was not at D0 */
} VusbBusStatus;

typedef struct VusbCameraReading {
    uint32_t known; /* the camera has a value for the selector */
    uint32_t value;
} VusbCameraReading;

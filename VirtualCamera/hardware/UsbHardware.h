#pragma once
/* The behaviour of the virtual USB hardware, once: which hub request gets which reply, and how
 * the camera stores and reads back a control value. The user-mode model (tests) and the kernel
 * bus driver both answer through these functions. Plain C types only, so that kernel sources
 * (DDK headers) and user-mode sources (windows.h) can both include it. The scene is the same
 * bytes on every architecture: a 32-bit tool can hand it to a 64-bit driver. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    VusbControllerCount = 10, /* \\.\HCD0 to \\.\HCD9 */
    VusbMaxHubs = 255,        /* hub 0 is never used: a hub id is an index from 1 */
    VusbMaxPorts = 1024,      /* ports that hold something or carry faults */
    VusbNameBytes = 160,      /* a hub's name without "\\.\", ASCII, terminated */
    VusbMaxPoolBytes = 65536  /* configuration descriptor sets, behind the scene */
};

enum VusbPortKind { VusbEmpty = 0, VusbHubPort = 1, VusbDevicePort = 2 };

typedef struct VusbControllerFaults {
    uint8_t open;
    uint8_t rootNameSize; /* first root hub name request */
    uint8_t rootName;     /* second request */
    uint8_t reserved;
    int32_t rootNameActualLength; /* >= 0: reported instead of the true size */
} VusbControllerFaults;

typedef struct VusbHubFaults {
    uint8_t open;
    uint8_t nodeInformation;
    uint8_t connectionEx; /* every port refuses the newer request */
    uint8_t connection;   /* every port refuses the older request */
} VusbHubFaults;

typedef struct VusbPortFaults {
    uint8_t connectionEx;
    uint8_t connection;
    uint8_t nameSize;       /* first downstream hub name request */
    uint8_t name;           /* second request */
    uint8_t descriptorHead; /* first descriptor fetch (9 bytes) */
    uint8_t descriptorBody; /* second fetch (the whole set) */
    uint8_t reserved[2];
    int32_t nameActualLength;         /* >= 0: reported instead of the true size */
    int32_t descriptorHeadBytesDelta; /* added to the byte count reported */
    int32_t descriptorBodyBytesDelta;
    int32_t bodyTotalLengthDelta; /* wTotalLength in the second reply changes by this */
} VusbPortFaults;

typedef struct VusbController {
    uint8_t present;
    uint8_t rootHub;
    uint8_t reserved[2];
    VusbControllerFaults faults;
} VusbController;

typedef struct VusbHub {
    char name[VusbNameBytes];
    uint8_t used;
    uint8_t ports; /* port count, 1 to 255 */
    uint8_t reserved[2];
    VusbHubFaults faults;
} VusbHub;

typedef struct VusbPort {
    uint8_t hub;    /* the hub this port belongs to */
    uint8_t number; /* 1 to the hub's port count */
    uint8_t kind;   /* VusbPortKind */
    uint8_t target; /* VusbHubPort: the hub it reports */
    uint16_t vendorId;
    uint16_t productId;
    uint32_t connectionStatus; /* 0: nothing connected */
    uint32_t configOffset;     /* the configuration descriptor set, in the pool */
    uint32_t configLength;
    VusbPortFaults faults;
} VusbPort;

/* ---- The camera's controls ---- */

enum { VusbCameraSelectors = 64 };

typedef struct VusbCameraState {
    uint16_t selector[VusbCameraSelectors];
    uint16_t value[VusbCameraSelectors];
    uint32_t count;
} VusbCameraState;

typedef struct VusbScene {
    VusbController controllers[VusbControllerCount];
    VusbHub hubs[VusbMaxHubs];
    VusbPort ports[VusbMaxPorts];
    uint32_t portCount;
    uint32_t poolBytes; /* pool bytes that follow the scene wherever it travels */
    /* The camera: the device whose function the bus reports to the platform (no camera when
     * cameraHub is 0), as a composite device's interface 0 or as a device not split up. */
    uint8_t cameraHub;
    uint8_t cameraPort;
    uint8_t cameraComposite;
    /* Nonzero: the camera's port loses power while the system sleeps, as in a hibernation, so
     * the camera comes back with its power-on values. */
    uint8_t sleepPowerOff;
    /* What the camera holds whenever it powers on (plugged in, its bus plugged in, the machine
     * started), before any driver writes: its firmware's values, not a driver's defaults. */
    VusbCameraState powerOn;
} VusbScene;

/* Outcome of a request. */
enum VusbStatus {
    VusbOk = 0,
    VusbRefused = 1,    /* the device failed the request (ERROR_GEN_FAILURE) */
    VusbNotThere = 2,   /* a well-formed request for something that is not there */
    VusbBadRequest = 3, /* sizes or contents broke the hub drivers' rules */
    VusbNoFunction = 4  /* not a request this device knows */
};

/* Request kinds, for fault hooks and counters. */
enum VusbRequestKind {
    VusbRootHubNameSize,
    VusbRootHubName,
    VusbNodeInformation,
    VusbConnectionEx,
    VusbConnection,
    VusbHubNameSize,
    VusbHubName,
    VusbDescriptorHead,
    VusbDescriptorBody
};

/* Asked once per well-formed request before faults apply; nonzero fails it (VusbRefused). */
typedef int (*VusbFaultHook)(void* context, int kind);

/* One request to host controller `number` or to hub `hub`. `in` and `out` may be the same
 * block (buffered requests). *returned: the byte count the device reports, which a fault may
 * make larger than outSize; the kernel caps it. */
int VusbControllerRequest(const VusbScene* scene, int number, uint32_t code, const void* in,
                          uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned,
                          VusbFaultHook hook, void* context);
int VusbHubRequest(const VusbScene* scene, const uint8_t* pool, int hub, uint32_t code,
                   const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned,
                   VusbFaultHook hook, void* context);

/* The port that holds the first hub or device at hub/port, or null. */
const VusbPort* VusbFindPort(const VusbScene* scene, int hub, int number);
/* False when the scene's counts or pool references leave its bounds. */
int VusbSceneIsSound(const VusbScene* scene, uint32_t poolBytes);

/* A vendor control transfer to the device: the value of selector `index` is written (OUT: the
 * data's first two bytes, its only byte, or wValue when there is no data) or read (IN: the
 * value little-endian, then zeros). *transferred: the data bytes moved. Other requests stall. */
int VusbCameraControl(VusbCameraState* state, uint8_t requestType, uint8_t request, uint16_t value,
                      uint16_t index, uint16_t length, uint8_t* data, uint32_t* transferred);
/* The camera's configuration descriptor set, up to `length` bytes into `out` (a standard
 * GET_DESCRIPTOR request for configuration 0); *returned: the bytes given. False when the scene
 * has no camera or no set for it. */
int VusbCameraConfiguration(const VusbScene* scene, const uint8_t* pool, uint8_t* out,
                            uint32_t length, uint32_t* returned);
/* The stored value of a selector; false when the camera has none for it. */
int VusbCameraValue(const VusbCameraState* state, uint16_t selector, uint16_t* value);
/* The firmware's power-on values of the 13 vendor controls, where a scene names none. */
void VusbCameraPowerOnDefaults(VusbCameraState* state);
/* Sets a power-on value (or a held one); false when the camera has no room for another. */
int VusbCameraSetValue(VusbCameraState* state, uint16_t selector, uint16_t value);

#ifdef __cplusplus
}
#endif

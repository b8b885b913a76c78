#pragma once
/* What the virtual bus driver's files share: the one bus's state, the kinds of device objects
 * it makes, and text helpers. Tests and the demo only. */
#include <ntddk.h>

#include "Common/KernelIrp.h"
#include "VirtualCamera/bus/VirtualUsbControl.h"
#include "VirtualCamera/hardware/UsbHardware.h"

#define POOL_TAG 0x62737556u /* "Vusb" in a pool dump */

enum DeviceKind { KindBus = 1, KindControl, KindController, KindHub, KindCamera };

typedef struct Extension {
    int kind;
    int index; /* controller number or hub id */
} Extension;

typedef struct CameraExtension {
    int kind;
    BOOLEAN reported; /* in the bus's relations; false once pulled out */
    BOOLEAN enumerated;
    BOOLEAN started;
    DEVICE_POWER_STATE power; /* below D0 the camera answers nothing */
} CameraExtension;

/* One bus: the platform enumerates one root device for it. */
typedef struct Bus {
    FAST_MUTEX lock; /* everything below */
    DEVICE_OBJECT* fdo;
    DEVICE_OBJECT* lower;
    DEVICE_OBJECT* pdo; /* the root device below the bus */
    DEVICE_OBJECT* control;
    VusbScene* scene; /* null while unplugged; the pool follows it */
    SIZE_T sceneBytes;
    BOOLEAN cameraPlugged;
    BOOLEAN holdRequests;  /* the camera answers no vendor request until it is cancelled */
    PIO_WORKITEM pullItem; /* pulls the camera out a moment later, as a hand would */
    ULONG pullDelayMs;
    volatile LONG pullPending;
    KEVENT pullIdle;       /* no pull pending: the bus may go */
    DEVICE_OBJECT* camera; /* the camera as reported now */
    ULONG departedAlive;
    ULONG plugCount;
    ULONG requestsBelowD0;
    ULONG pdoNumber;
    VusbCameraState values;
    DEVICE_OBJECT* controllers[VusbControllerCount];
    DEVICE_OBJECT* hubs[VusbMaxHubs];
} Bus;

extern Bus bus;

typedef struct Text {
    WCHAR* at;
    ULONG used; /* characters */
    ULONG room;
} Text;

void Append(Text* t, const WCHAR* s);
void AppendAnsi(Text* t, const char* s);
void AppendHex(Text* t, ULONG value, int digits, BOOLEAN upper);
void AppendDecimal(Text* t, ULONG value);

/* ---- The camera (VirtualUsbCamera.c) ---- */

void InitializeCamera(void);
/* A new device object for the camera when present, the old one marked as departed; the platform
 * is told. Called with the lock held. */
void ReportCamera(BOOLEAN present);
NTSTATUS CameraPnp(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS CameraUrb(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS CameraPower(DEVICE_OBJECT* device, IRP* irp);
/* Vendor requests the camera holds now. */
ULONG HeldRequests(void);
/* The power manager's system request (a SYSTEM_POWER_STATE), or the idle request to the class
 * driver (IOCTL_VUSB_IDLE_CAMERA), sent to the top of the camera's stack and waited for. Called
 * without the lock. */
NTSTATUS SendSystemPower(ULONG state);
NTSTATUS SendIdleRequest(BOOLEAN idle);

#pragma once
/* What the filter's files share: the state of one filter device, the gate that orders its
 * transfers, and the routines each file offers the others. Plain C, for kernel sources. */
#include <ntddk.h>

#include "DriverPackage/XuTransfer.h"

#define POOL_TAG 0x4C463456u /* "V4FL" in a pool dump */

/* A vendor request without a data stage must be done within 50 ms (USB 2.0, 9.2.6.4): one that is
 * not answered within a second never will be. It is cancelled then, so that neither the caller
 * nor the device's removal or power-down waits for it. */
#define TRANSFER_TIMEOUT_MS 1000
/* How long a write waits for the transfer or the restore ahead of it before it gives up: the
 * holder of the gate is itself bounded, so this is only reached when the camera is failing. */
#define GATE_TIMEOUT_MS (2 * TRANSFER_TIMEOUT_MS)

typedef struct Filter {
    DEVICE_OBJECT* self;
    DEVICE_OBJECT* lower; /* the class driver's device: every request not ours goes there */
    DEVICE_OBJECT* pdo;   /* the bus's device for the camera function: vendor transfers go there */
    IO_REMOVE_LOCK removeLock;
    /* One transfer at a time, and none while stored settings go back into the camera: a write
     * that arrives then follows them instead of being overwritten by them. */
    KEVENT gate;
    /* Set while writes cannot reach the camera (not started, stopped, removed, below full
     * power): it wakes writes waiting at the gate, which then fail at once. */
    KEVENT closed;
    PIO_WORKITEM restoreItem;
    volatile LONG started;       /* from the start on; writes then wait at the gate for its end */
    volatile LONG removed;       /* the device has gone, or is going */
    volatile LONG fullPower;     /* the stack is at D0 */
    volatile LONG restoreDue;    /* power came back: the stored settings go back before any write */
    volatile LONG restoreQueued; /* the work item that puts them back is queued */
    uint32_t standardPowerLine;  /* the camera's processing unit offers power-line frequency */
} Filter;

/* ---- The gate (CameraFilter.c) ---- */

/* Why a write cannot reach the camera now, or STATUS_SUCCESS. */
NTSTATUS WritesAccepted(const Filter* filter);
/* The gate alone, within a bound: for the filter's own steps, which go on without it on a
 * time-out. */
BOOLEAN TakeGate(Filter* filter, ULONG timeoutMs);
/* The gate for a write or a restore: STATUS_SUCCESS with the gate taken, or why not (the camera
 * stopped taking writes while it waited, or the gate stayed taken). */
NTSTATUS EnterGateForWrite(Filter* filter);
void LeaveGate(Filter* filter);

/* ---- The camera (FilterDevice.c) ---- */

NTSTATUS SendVendorWrite(Filter* filter, const XuTransfer* transfer);
/* Whether the camera's processing unit offers power-line frequency, from its configuration
 * descriptor set; 0 when it cannot be read. */
uint32_t ReadStandardPowerLine(Filter* filter);
/* Puts the values stored in the driver's Settings key back into the camera, by the library's
 * rule; under the gate. Stops when the camera stops taking writes. */
void RestoreStoredSettings(Filter* filter);

/* ---- Power (FilterPower.c) ---- */

/* Every power request; releases the request's remove lock. */
NTSTATUS DispatchPower(Filter* filter, IRP* irp);

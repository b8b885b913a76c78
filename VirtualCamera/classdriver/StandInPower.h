#pragma once
/* The class driver stand-in as the camera's power policy owner, as the platform's class driver is:
 * it turns the system's sleep and wake into device power requests through the whole stack, and
 * idles the camera on request (selective suspend). Tests and the demo only. */
#include <ntddk.h>

/* A power request that reached the class driver; `pdo` is the camera's, `lower` the device below
 * the class driver. The caller releases its remove lock. */
NTSTATUS StandInPower(DEVICE_OBJECT* pdo, DEVICE_OBJECT* lower, IRP* irp);
/* The bus's IOCTL_VUSB_IDLE_CAMERA: the camera into low power, or back to full power. */
NTSTATUS StandInIdle(DEVICE_OBJECT* pdo, IRP* irp);

#pragma once
/* The camera's capture interfaces as the class driver stand-in serves them: those the camera's
 * installation registered (its INF's AddInterface lines), in the categories the platform's class
 * driver serves, with its reference string GLOBAL. Wine 8.0 can neither list a device's
 * interfaces to a driver (IoGetDeviceInterfaces is a stub) nor enable one with a reference string
 * (IoSetDeviceInterfaceState looks for it under another spelling), so they are found in the
 * registry and enabled by hand: the link to the camera's device and the interface's volatile
 * "Linked" flag, which make it present as on Windows. Plain C, for kernel sources. */
#include <ntddk.h>

#define CAPTURE_CATEGORIES 3

typedef struct CaptureInterface {
    UNICODE_STRING link; /* "\??\usb#...#{category}\global" */
    HANDLE directory;    /* the link's object directory */
    HANDLE control;      /* the interface's volatile Control key */
} CaptureInterface;

typedef struct CaptureInterfaces {
    CaptureInterface each[CAPTURE_CATEGORIES];
} CaptureInterfaces;

/* Enables each interface the installation registered for the device below `lower` (its PDO); a
 * category it registered none in is left out. On failure nothing stays enabled. */
NTSTATUS EnableCaptureInterfaces(CaptureInterfaces* interfaces, DEVICE_OBJECT* lower,
                                 DEVICE_OBJECT* pdo);
/* Undoes what EnableCaptureInterfaces did; again is harmless. */
void DisableCaptureInterfaces(CaptureInterfaces* interfaces);

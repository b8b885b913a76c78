/* usbvideo.sys: a stand-in for the platform's USB video class driver, for the tests and the demo
 * only (Wine has none); never part of the product. Like the platform's, it is the camera
 * function's function driver: it enables the capture interfaces the camera's installation
 * registered (CaptureInterfaces.c), takes opens and closes, and answers kernel-streaming property
 * requests, of which it knows one. Doing what Windows' PnP manager does and Wine 8.0's does not, it
 * loads the device's upper filters above itself once it has attached, so that the stack is the
 * bus's device, this driver, then the filters, as on Windows. Wine hands a driver copies of a
 * caller's buffers for every transfer method, which is why the property request is read without
 * probing (the platform's own driver probes). */
#include <ntddk.h>

#include "Common/KernelIrp.h"
#include "VirtualCamera/bus/VirtualUsbControl.h"
#include "VirtualCamera/classdriver/CaptureInterfaces.h"
#include "VirtualCamera/classdriver/StandInPower.h"

#define POOL_TAG 0x53435655u        /* "UVCS" in a pool dump */
#define IOCTL_KS_PROPERTY 0x2F0003u /* FILE_DEVICE_KS, function 0, neither, any access */
#define KSPROPERTY_PIN_CTYPES 0
#define KSPROPERTY_TYPE_GET 1
#define PIN_TYPES 1 /* capture */

NTSTATUS NTAPI ObReferenceObjectByName(UNICODE_STRING* name, ULONG attributes, void* access,
                                       ACCESS_MASK desired, void* type, KPROCESSOR_MODE mode,
                                       void* parse, void** object);

/* KSPROPSETID_Pin */
static const GUID PinProperties = {
    0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};

typedef struct KsProperty {
    GUID set;
    ULONG id;
    ULONG flags;
} KsProperty;

typedef struct Camera {
    DEVICE_OBJECT* self;
    DEVICE_OBJECT* lower;
    DEVICE_OBJECT* pdo;
    IO_REMOVE_LOCK removeLock;
    CaptureInterfaces interfaces;
} Camera;

/* ---- Upper filters ------------------------------------------------------------------------- */

/* "<prefix><name>" into a counted string of its own; false when it does not fit. */
static BOOLEAN Join(WCHAR* buffer, ULONG room, const WCHAR* prefix, const WCHAR* name,
                    ULONG nameChars, UNICODE_STRING* joined) {
    ULONG at = 0;
    while (*prefix && at < room) buffer[at++] = *prefix++;
    if (at + nameChars + 1 > room) return FALSE;
    RtlCopyMemory(buffer + at, name, nameChars * sizeof(WCHAR));
    buffer[at + nameChars] = 0;
    RtlInitUnicodeString(joined, buffer);
    return TRUE;
}

/* Loads one filter's driver and lets it attach above what is on the stack now. */
static NTSTATUS AddFilter(DEVICE_OBJECT* pdo, const WCHAR* name, ULONG chars) {
    WCHAR buffer[160];
    UNICODE_STRING path;
    DRIVER_OBJECT* driver = NULL;
    NTSTATUS status;
    if (!Join(buffer, 160, L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\", name,
              chars, &path))
        return STATUS_NAME_TOO_LONG;
    status = ZwLoadDriver(&path);
    if (!NT_SUCCESS(status) && status != STATUS_IMAGE_ALREADY_LOADED) return status;
    if (!Join(buffer, 160, L"\\Driver\\", name, chars, &path)) return STATUS_NAME_TOO_LONG;
    status = ObReferenceObjectByName(&path, OBJ_CASE_INSENSITIVE, NULL, 0, NULL, KernelMode, NULL,
                                     (void**)&driver);
    if (!NT_SUCCESS(status)) return status;
    status = driver->DriverExtension->AddDevice ? driver->DriverExtension->AddDevice(driver, pdo)
                                                : STATUS_INVALID_DEVICE_REQUEST;
    ObDereferenceObject(driver);
    return status;
}

/* The device's "UpperFilters", where Wine's device installation puts an INF's hardware section:
 * the device key. A filter that cannot be added fails the device, as on Windows. */
static NTSTATUS AddUpperFilters(DEVICE_OBJECT* pdo) {
    static const WCHAR valueName[] = L"UpperFilters";
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 512];
    } reply;
    UNICODE_STRING nameU;
    HANDLE key = NULL;
    ULONG length = 0, at, chars, start;
    const WCHAR* names;
    NTSTATUS status = STATUS_SUCCESS;
    if (IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key) != STATUS_SUCCESS ||
        !key)
        return STATUS_SUCCESS; /* no device key: no filters */
    RtlInitUnicodeString(&nameU, valueName);
    if (!NT_SUCCESS(ZwQueryValueKey(key, &nameU, KeyValuePartialInformation, &reply, sizeof reply,
                                    &length)) ||
        reply.info.Type != REG_MULTI_SZ) {
        ZwClose(key);
        return STATUS_SUCCESS;
    }
    ZwClose(key);
    names = (const WCHAR*)reply.info.Data;
    chars = reply.info.DataLength / sizeof(WCHAR);
    for (start = at = 0; at <= chars && NT_SUCCESS(status); ++at) {
        if (at < chars && names[at]) continue;
        if (at > start) status = AddFilter(pdo, names + start, at - start);
        start = at + 1;
    }
    return status;
}

/* ---- Requests ------------------------------------------------------------------------------ */

static NTSTATUS PropertyRequest(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const KsProperty* property = stack->Parameters.DeviceIoControl.Type3InputBuffer;
    ULONG* answer = irp->UserBuffer;
    if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(KsProperty) || !property)
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    if (!RtlEqualMemory(&property->set, &PinProperties, sizeof(GUID)) ||
        property->id != KSPROPERTY_PIN_CTYPES || property->flags != KSPROPERTY_TYPE_GET)
        return Complete(irp, STATUS_NOT_FOUND, 0);
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG) || !answer)
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    *answer = PIN_TYPES;
    return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
}

static NTSTATUS Pnp(Camera* camera, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = ForwardAndWait(camera->lower, irp);
        if (NT_SUCCESS(status))
            status = EnableCaptureInterfaces(&camera->interfaces, camera->lower, camera->pdo);
        IoReleaseRemoveLock(&camera->removeLock, irp);
        return Complete(irp, status, 0);
    case IRP_MN_SURPRISE_REMOVAL:
        DisableCaptureInterfaces(&camera->interfaces);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        DEVICE_OBJECT* lower = camera->lower;
        DisableCaptureInterfaces(&camera->interfaces);
        IoReleaseRemoveLockAndWait(&camera->removeLock, irp);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(camera->self);
        return status;
    }
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    status = IoCallDriver(camera->lower, irp);
    IoReleaseRemoveLock(&camera->removeLock, irp);
    return status;
}

static NTSTATUS WINAPI Dispatch(DEVICE_OBJECT* device, IRP* irp) {
    Camera* camera = device->DeviceExtension;
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = IoAcquireRemoveLock(&camera->removeLock, irp);
    if (!NT_SUCCESS(status)) {
        if (stack->MajorFunction == IRP_MJ_POWER) PoStartNextPowerIrp(irp);
        return Complete(irp, status, 0);
    }
    switch (stack->MajorFunction) {
    case IRP_MJ_PNP:
        return Pnp(camera, irp); /* releases the lock itself */
    case IRP_MJ_POWER:
        status = StandInPower(camera->pdo, camera->lower, irp);
        break;
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_VUSB_IDLE_CAMERA) {
            status = StandInIdle(camera->pdo, irp);
            break;
        }
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(camera->lower, irp);
        break;
    case IRP_MJ_CREATE: {
        /* The interface's reference string, or nothing where the platform drops it. */
        static const WCHAR global[] = L"\\global";
        const UNICODE_STRING* name = stack->FileObject ? &stack->FileObject->FileName : NULL;
        UNICODE_STRING expected;
        RtlInitUnicodeString(&expected, global);
        status = !name || name->Length == 0 || RtlEqualUnicodeString(name, &expected, TRUE)
                     ? STATUS_SUCCESS
                     : STATUS_OBJECT_NAME_NOT_FOUND;
        Complete(irp, status, 0);
        break;
    }
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
        status = Complete(irp, STATUS_SUCCESS, 0);
        break;
    case IRP_MJ_DEVICE_CONTROL:
        status = stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_KS_PROPERTY
                     ? PropertyRequest(irp)
                     : Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        break;
    default:
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(camera->lower, irp);
        break;
    }
    IoReleaseRemoveLock(&camera->removeLock, irp);
    return status;
}

static NTSTATUS WINAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    DEVICE_OBJECT* device;
    Camera* camera;
    NTSTATUS status = IoCreateDevice(driver, sizeof(Camera), NULL, FILE_DEVICE_KS,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    camera = device->DeviceExtension;
    RtlZeroMemory(camera, sizeof *camera);
    camera->self = device;
    camera->pdo = pdo;
    IoInitializeRemoveLock(&camera->removeLock, POOL_TAG, 0, 0);
    camera->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (!camera->lower) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    /* The bus's camera is pageable: power requests come at passive level, where the policy owner
     * waits for the device power requests it sends. */
    device->Flags |= DO_BUFFERED_IO | (camera->lower->Flags & DO_POWER_PAGABLE);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    status = AddUpperFilters(pdo);
    if (!NT_SUCCESS(status)) {
        IoDetachDevice(camera->lower);
        IoDeleteDevice(device);
    }
    return status;
}

static void WINAPI Unload(DRIVER_OBJECT* driver) { (void)driver; }

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    int i;
    (void)registryPath;
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

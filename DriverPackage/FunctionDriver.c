/* VK4M220FL: the camera's function driver. It sits on the camera's USB function, registers its
 * video capture interface (reference string "global"), and carries each extension-unit request
 * (XuControlIoctl) down to the device as a vendor control transfer, by the rule of the
 * extension-unit library VK4M220FU, which it imports. The driver's Settings key is the INF's
 * business; the driver never touches it. */
#include <ntddk.h>
#include <usb.h>
#include <usbioctl.h>

#include "DriverPackage/XuTransfer.h"

#define POOL_TAG 0x4C463456u       /* "V4FL" in a pool dump */
#define XU_CONTROL_IOCTL 0x222004u /* device type 0x22, function 0x801, buffered, any access */

/* KSCATEGORY_CAPTURE */
static const GUID CaptureCategory = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

typedef struct Camera {
    DEVICE_OBJECT* self;
    DEVICE_OBJECT* lower;
    DEVICE_OBJECT* pdo;
    IO_REMOVE_LOCK removeLock;
    UNICODE_STRING link; /* the capture interface's symbolic link */
    BOOLEAN linkedByHand;
    HANDLE linkDirectory;
    HANDLE controlKey;
} Camera;

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI SignalDone(DEVICE_OBJECT* device, IRP* irp, void* event) {
    (void)device;
    (void)irp;
    KeSetEvent((KEVENT*)event, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Passes the request down and waits for the layers below to finish it. */
static NTSTATUS ForwardAndWait(Camera* camera, IRP* irp) {
    KEVENT done;
    NTSTATUS status;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    status = IoCallDriver(camera->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    return status;
}

/* ---- The capture interface ---------------------------------------------------------------- */

/* Undoes what LinkInterfaceByHand made, as far as it got. */
static void UnlinkInterfaceByHand(Camera* camera) {
    if (camera->controlKey) {
        ZwDeleteKey(camera->controlKey);
        ZwClose(camera->controlKey);
        camera->controlKey = NULL;
    }
    IoDeleteSymbolicLink(&camera->link);
    if (camera->linkDirectory) ZwClose(camera->linkDirectory);
    camera->linkDirectory = NULL;
    camera->linkedByHand = FALSE;
}

/* Wine 8.0 registers an interface with a reference string but cannot enable it (it looks for
 * the reference string's key under another spelling). Doing by hand what enabling does (the
 * link to the camera's device object and the interface's volatile "Linked" flag) makes the
 * interface present there as it is on Windows, where this path is never taken. */
static NTSTATUS LinkInterfaceByHand(Camera* camera) {
    static const WCHAR classes[] =
        L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\"
        L"DeviceClasses\\{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\##?#";
    WCHAR pdoName[128], keyName[512];
    UNICODE_STRING directory = camera->link, target, key, linked;
    OBJECT_ATTRIBUTES attributes;
    ULONG needed = 0, one = 1, i, at, split = 0, chars = camera->link.Length / sizeof(WCHAR);
    NTSTATUS status;

    /* "\??\usb#...#{class}\global": the directory part ends at the last backslash. */
    for (i = 0; i < chars; ++i)
        if (camera->link.Buffer[i] == L'\\') split = i;
    if (chars < 5 || split <= 4 || split + 1 >= chars) return STATUS_OBJECT_NAME_INVALID;
    directory.Length = (USHORT)(split * sizeof(WCHAR));
    InitializeObjectAttributes(&attributes, &directory,
                               OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE | OBJ_OPENIF, NULL, NULL);
    status = ZwCreateDirectoryObject(&camera->linkDirectory, DIRECTORY_ALL_ACCESS, &attributes);
    if (!NT_SUCCESS(status)) return status;

    status = IoGetDeviceProperty(camera->pdo, DevicePropertyPhysicalDeviceObjectName,
                                 sizeof pdoName - sizeof(WCHAR), pdoName, &needed);
    if (NT_SUCCESS(status)) {
        pdoName[sizeof pdoName / sizeof(WCHAR) - 1] = 0;
        RtlInitUnicodeString(&target, pdoName);
        status = IoCreateSymbolicLink(&camera->link, &target);
    }
    if (!NT_SUCCESS(status)) {
        UnlinkInterfaceByHand(camera);
        return status;
    }

    /* ...\DeviceClasses\{class}\##?#usb#...#{class}\#global\Control */
    at = sizeof classes / sizeof(WCHAR) - 1;
    RtlCopyMemory(keyName, classes, at * sizeof(WCHAR));
    if (at + chars + 16 >= sizeof keyName / sizeof(WCHAR)) status = STATUS_NAME_TOO_LONG;
    if (NT_SUCCESS(status)) {
        for (i = 4; i < split; ++i) keyName[at++] = camera->link.Buffer[i];
        keyName[at++] = L'\\';
        keyName[at++] = L'#';
        for (i = split + 1; i < chars; ++i) keyName[at++] = camera->link.Buffer[i];
        RtlCopyMemory(keyName + at, L"\\Control", 9 * sizeof(WCHAR));
        RtlInitUnicodeString(&key, keyName);
        InitializeObjectAttributes(&attributes, &key, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                                   NULL, NULL);
        status = ZwCreateKey(&camera->controlKey, KEY_ALL_ACCESS, &attributes, 0, NULL,
                             REG_OPTION_VOLATILE, NULL);
    }
    if (NT_SUCCESS(status)) {
        RtlInitUnicodeString(&linked, L"Linked");
        status = ZwSetValueKey(camera->controlKey, &linked, 0, REG_DWORD, &one, sizeof one);
    }
    if (!NT_SUCCESS(status)) {
        UnlinkInterfaceByHand(camera);
        return status;
    }
    camera->linkedByHand = TRUE;
    return STATUS_SUCCESS;
}

static void EnableInterface(Camera* camera) {
    NTSTATUS status = IoSetDeviceInterfaceState(&camera->link, TRUE);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND) LinkInterfaceByHand(camera);
}

static void DisableInterface(Camera* camera) {
    if (camera->linkedByHand)
        UnlinkInterfaceByHand(camera);
    else
        IoSetDeviceInterfaceState(&camera->link, FALSE);
}

/* ---- Extension-unit requests -------------------------------------------------------------- */

static NTSTATUS SendVendorTransfer(Camera* camera, const XuTransfer* transfer, UCHAR* data,
                                   ULONG* transferred) {
    struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST urb;
    IO_STATUS_BLOCK io;
    KEVENT done;
    IRP* irp;
    NTSTATUS status;
    RtlZeroMemory(&urb, sizeof urb);
    urb.Hdr.Length = sizeof urb;
    urb.Hdr.Function = URB_FUNCTION_VENDOR_DEVICE;
    urb.TransferFlags = (transfer->requestType & 0x80)
                            ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK
                            : USBD_TRANSFER_DIRECTION_OUT;
    urb.TransferBuffer = transfer->length ? data : NULL;
    urb.TransferBufferLength = transfer->length;
    urb.Request = transfer->request;
    urb.Value = transfer->value;
    urb.Index = transfer->index;

    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, camera->lower, NULL, 0, NULL,
                                        0, TRUE, &done, &io);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = &urb;
    status = IoCallDriver(camera->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = io.Status;
    }
    if (NT_SUCCESS(status) && !USBD_SUCCESS(urb.Hdr.Status)) status = STATUS_UNSUCCESSFUL;
    *transferred = NT_SUCCESS(status) && urb.TransferBufferLength <= transfer->length
                       ? urb.TransferBufferLength
                       : 0;
    return status;
}

static NTSTATUS ExtensionUnitRequest(Camera* camera, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer; /* max(inSize, outSize) bytes */
    XuTransfer transfer;
    UCHAR* data = NULL;
    ULONG transferred = 0;
    NTSTATUS status;
    if (!XuDescribeTransfer(buffer, inSize, outSize, &transfer))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    if (transfer.length) {
        data = ExAllocatePoolWithTag(NonPagedPool, transfer.length, POOL_TAG);
        if (!data) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        if (!(transfer.requestType & 0x80))
            RtlCopyMemory(data, buffer + transfer.dataOffset, transfer.length);
    }
    status = SendVendorTransfer(camera, &transfer, data, &transferred);
    if (NT_SUCCESS(status) && (transfer.requestType & 0x80))
        RtlCopyMemory(buffer, data, transferred);
    if (data) ExFreePoolWithTag(data, POOL_TAG);
    return Complete(irp, status, NT_SUCCESS(status) ? XuBytesReturned(&transfer, transferred) : 0);
}

/* ---- Dispatch ----------------------------------------------------------------------------- */

static NTSTATUS Pnp(Camera* camera, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = ForwardAndWait(camera, irp);
        if (NT_SUCCESS(status)) EnableInterface(camera);
        IoReleaseRemoveLock(&camera->removeLock, irp);
        return Complete(irp, status, 0);
    case IRP_MN_SURPRISE_REMOVAL:
        DisableInterface(camera);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        DEVICE_OBJECT* lower = camera->lower;
        DisableInterface(camera);
        /* Waits for the requests still inside the driver. */
        IoReleaseRemoveLockAndWait(&camera->removeLock, irp);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        RtlFreeUnicodeString(&camera->link);
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
        PoStartNextPowerIrp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        status = PoCallDriver(camera->lower, irp);
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
        if (stack->Parameters.DeviceIoControl.IoControlCode == XU_CONTROL_IOCTL) {
            status = ExtensionUnitRequest(camera, irp);
            break;
        }
        status = Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
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
    static const WCHAR global[] = L"global";
    UNICODE_STRING reference;
    DEVICE_OBJECT* device;
    Camera* camera;
    NTSTATUS status = IoCreateDevice(driver, sizeof(Camera), NULL, FILE_DEVICE_UNKNOWN,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    camera = device->DeviceExtension;
    RtlZeroMemory(camera, sizeof *camera);
    camera->self = device;
    camera->pdo = pdo;
    IoInitializeRemoveLock(&camera->removeLock, POOL_TAG, 0, 0);
    RtlInitUnicodeString(&reference, global);
    status = IoRegisterDeviceInterface(pdo, &CaptureCategory, &reference, &camera->link);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    camera->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (!camera->lower) {
        RtlFreeUnicodeString(&camera->link);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= DO_BUFFERED_IO | (camera->lower->Flags & DO_POWER_PAGABLE);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
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

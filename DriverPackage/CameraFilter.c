/* VK4M220FL: the camera's upper filter, above the platform's USB video class driver, which stays
 * the camera's function driver (streaming, the capture interface). The filter handles one
 * request, the extension-unit request (XuControlIoctl), by the rule of the extension-unit library
 * VK4M220FU, which it imports: only the camera library's writes of its controls reach the camera.
 * Every other request passes down untouched. When the device starts, the filter puts the values
 * stored in the driver's Settings key back into the camera, which forgets them whenever it loses
 * power. */
#include <ntddk.h>
#include <usb.h>
#include <usbioctl.h>

#include "Common/KernelIrp.h"
#include "DriverPackage/XuTransfer.h"
#include "DLL/props/ControlTable.h"

#define POOL_TAG 0x4C463456u       /* "V4FL" in a pool dump */
#define XU_CONTROL_IOCTL 0x222004u /* device type 0x22, function 0x801, buffered, any access */

/* A vendor request without a data stage must be done within 50 ms (USB 2.0, 9.2.6.4): one that is
 * not answered within a second never will be. It is cancelled then, so that neither the caller
 * nor the device's removal waits for it. */
#define TRANSFER_TIMEOUT_MS 1000

typedef struct Filter {
    DEVICE_OBJECT* self;
    DEVICE_OBJECT* lower; /* the class driver's device: every request not ours goes there */
    DEVICE_OBJECT* pdo;   /* the bus's device for the camera function: vendor transfers go there */
    IO_REMOVE_LOCK removeLock;
    /* One transfer at a time, and none while the start puts the stored settings back: a
     * library's write that arrives then follows them instead of being overwritten by them. */
    KEVENT gate;
    volatile LONG started; /* from the start on; requests then wait at the gate for its end */
    volatile LONG removed; /* the device has gone, or is going */
} Filter;

static void Enter(Filter* filter) {
    KeWaitForSingleObject(&filter->gate, Executive, KernelMode, FALSE, NULL);
}

static void Leave(Filter* filter) { KeSetEvent(&filter->gate, IO_NO_INCREMENT, FALSE); }

/* ---- Vendor transfers ---------------------------------------------------------------------- */

/* One write without data on the default pipe. It goes to the bottom of the stack: the class
 * driver above the bus owns the camera's interfaces and answers kernel-streaming requests, but
 * the default pipe is the device's, and the bus driver takes a vendor request from any driver of
 * the stack, as filters that talk to the device beside a class driver do. The IRP is ours until
 * it comes back (the completion routine keeps it), so a timed-out one can be cancelled safely;
 * a cancelled IRP always comes back, so the second wait ends. */
static NTSTATUS SendVendorWrite(Filter* filter, const XuTransfer* transfer) {
    struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST urb;
    LARGE_INTEGER timeout;
    KEVENT done;
    IO_STACK_LOCATION* next;
    NTSTATUS status;
    IRP* irp = IoAllocateIrp(filter->pdo->StackSize, FALSE);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(&urb, sizeof urb);
    urb.Hdr.Length = sizeof urb;
    urb.Hdr.Function = URB_FUNCTION_VENDOR_DEVICE;
    urb.TransferFlags = USBD_TRANSFER_DIRECTION_OUT;
    urb.Request = transfer->request;
    urb.Value = transfer->value;
    urb.Index = transfer->index;

    KeInitializeEvent(&done, NotificationEvent, FALSE);
    next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = &urb;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(filter->pdo, irp) == STATUS_PENDING) {
        timeout.QuadPart = -10000LL * TRANSFER_TIMEOUT_MS;
        if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) ==
            STATUS_TIMEOUT) {
            IoCancelIrp(irp);
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        }
    }
    status = irp->IoStatus.Status;
    if (status == STATUS_CANCELLED) status = STATUS_IO_TIMEOUT;
    if (NT_SUCCESS(status) && !USBD_SUCCESS(urb.Hdr.Status)) status = STATUS_UNSUCCESSFUL;
    IoFreeIrp(irp);
    return status;
}

static NTSTATUS ExtensionUnitRequest(Filter* filter, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    XuTransfer transfer;
    NTSTATUS status;
    if (filter->removed) return Complete(irp, STATUS_DEVICE_REMOVED, 0);
    if (!filter->started) return Complete(irp, STATUS_DEVICE_NOT_READY, 0);
    /* The system buffer holds max(inSize, outSize) bytes; the rule reads only inSize of them. */
    if (!XuDescribeTransfer(irp->AssociatedIrp.SystemBuffer, inSize, outSize, &transfer))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    if (!XuTransferAllowed(&transfer)) return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    /* The holder's transfers are each bounded, so the wait is too. */
    Enter(filter);
    status = filter->removed   ? STATUS_DEVICE_REMOVED
             : filter->started ? SendVendorWrite(filter, &transfer)
                               : STATUS_DEVICE_NOT_READY;
    Leave(filter);
    return Complete(irp, status, NT_SUCCESS(status) ? XuBytesReturned(&transfer, 0) : 0);
}

/* ---- The stored settings, put back at start ------------------------------------------------ */

static int ReadStoredValue(void* context, const char* name, int32_t* value) {
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    } reply;
    WCHAR wide[32];
    UNICODE_STRING nameU;
    ULONG i, length = 0;
    for (i = 0; name[i] && i + 1 < sizeof wide / sizeof wide[0]; ++i) wide[i] = (WCHAR)name[i];
    wide[i] = 0;
    RtlInitUnicodeString(&nameU, wide);
    if (!NT_SUCCESS(ZwQueryValueKey((HANDLE)context, &nameU, KeyValuePartialInformation, &reply,
                                    sizeof reply, &length)) ||
        reply.info.Type != REG_DWORD || reply.info.DataLength != sizeof(ULONG))
        return 0;
    RtlCopyMemory(value, reply.info.Data, sizeof(ULONG));
    return 1;
}

/* A value the camera refuses is skipped; a camera that answers nothing ends the round, so that
 * the start waits for it once at most. Start never fails for either. */
static void ApplyStoredSettings(Filter* filter) {
    static const WCHAR settingsName[] = L"Settings";
    XuTransfer transfers[PropertyCount];
    UNICODE_STRING nameU;
    OBJECT_ATTRIBUTES attributes;
    HANDLE driverKey = NULL, settings = NULL;
    ULONG count, i;
    /* Some platforms report their own error codes here: only a true success gives a key. */
    if (IoOpenDeviceRegistryKey(filter->pdo, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &driverKey) !=
            STATUS_SUCCESS ||
        !driverKey)
        return;
    RtlInitUnicodeString(&nameU, settingsName);
    InitializeObjectAttributes(&attributes, &nameU, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               driverKey, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&settings, KEY_QUERY_VALUE, &attributes))) settings = NULL;
    ZwClose(driverKey);
    if (!settings) return;
    count = XuStartUpTransfers(ReadStoredValue, settings, transfers, PropertyCount);
    ZwClose(settings);
    for (i = 0; i < count; ++i)
        if (SendVendorWrite(filter, &transfers[i]) == STATUS_IO_TIMEOUT) break;
}

/* ---- Dispatch ------------------------------------------------------------------------------ */

static NTSTATUS Pnp(Filter* filter, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        /* The class driver below enables the capture interface during its start: a request that
         * comes through it before the settings are back waits for them. */
        Enter(filter);
        InterlockedExchange(&filter->started, 1);
        status = ForwardAndWait(filter->lower, irp);
        if (NT_SUCCESS(status) && !filter->removed)
            ApplyStoredSettings(filter);
        else
            InterlockedExchange(&filter->started, 0);
        Leave(filter);
        IoReleaseRemoveLock(&filter->removeLock, irp);
        return Complete(irp, status, irp->IoStatus.Information);
    case IRP_MN_SURPRISE_REMOVAL:
        InterlockedExchange(&filter->removed, 1);
        InterlockedExchange(&filter->started, 0);
        break;
    case IRP_MN_REMOVE_DEVICE: {
        DEVICE_OBJECT* lower = filter->lower;
        InterlockedExchange(&filter->removed, 1);
        InterlockedExchange(&filter->started, 0);
        /* Waits for the requests still inside the filter. */
        IoReleaseRemoveLockAndWait(&filter->removeLock, irp);
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(filter->self);
        return status;
    }
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    status = IoCallDriver(filter->lower, irp);
    IoReleaseRemoveLock(&filter->removeLock, irp);
    return status;
}

static NTSTATUS WINAPI Dispatch(DEVICE_OBJECT* device, IRP* irp) {
    Filter* filter = device->DeviceExtension;
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = IoAcquireRemoveLock(&filter->removeLock, irp);
    if (!NT_SUCCESS(status)) {
        if (stack->MajorFunction == IRP_MJ_POWER) PoStartNextPowerIrp(irp);
        return Complete(irp, status, 0);
    }
    switch (stack->MajorFunction) {
    case IRP_MJ_PNP:
        return Pnp(filter, irp); /* releases the lock itself */
    case IRP_MJ_POWER:
        PoStartNextPowerIrp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        status = PoCallDriver(filter->lower, irp);
        break;
    case IRP_MJ_DEVICE_CONTROL:
        if (stack->Parameters.DeviceIoControl.IoControlCode == XU_CONTROL_IOCTL) {
            status = ExtensionUnitRequest(filter, irp);
            break;
        }
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(filter->lower, irp);
        break;
    default:
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(filter->lower, irp);
        break;
    }
    IoReleaseRemoveLock(&filter->removeLock, irp);
    return status;
}

static NTSTATUS WINAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    DEVICE_OBJECT* device;
    Filter* filter;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(Filter), NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    filter = device->DeviceExtension;
    RtlZeroMemory(filter, sizeof *filter);
    filter->self = device;
    filter->pdo = pdo;
    IoInitializeRemoveLock(&filter->removeLock, POOL_TAG, 0, 0);
    KeInitializeEvent(&filter->gate, SynchronizationEvent, TRUE);
    filter->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (!filter->lower) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    /* A filter looks like the device below it to the I/O manager and the PnP manager. */
    device->DeviceType = filter->lower->DeviceType;
    device->Characteristics = filter->lower->Characteristics;
    device->Flags |= filter->lower->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO | DO_POWER_PAGABLE);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

/* Every device is gone before the platform unloads a PnP driver; nothing else is held. */
static void WINAPI Unload(DRIVER_OBJECT* driver) { (void)driver; }

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    int i;
    (void)registryPath;
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

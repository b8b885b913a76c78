/* VK4M220FL: the camera's upper filter, above the platform's USB video class driver, which stays
 * the camera function's function driver (streaming, the capture interface). The filter handles
 * one request, the extension-unit request (XuControlIoctl), by the rule of the extension-unit
 * library VK4M220FU, which it imports: only the camera library's writes of its controls reach the
 * camera, and only while it is started and at full power. Every other request passes down
 * untouched. Whenever the camera comes back to full power, at its start and after a sleep or a
 * hibernation, the filter puts the values stored in the driver's Settings key back into it: the
 * camera forgets them whenever it loses power. */
#include <ntddk.h>

#include "Common/KernelIrp.h"
#include "DriverPackage/Filter.h"

#define XU_CONTROL_IOCTL 0x222004u /* device type 0x22, function 0x801, buffered, any access */

/* ---- The gate ------------------------------------------------------------------------------ */

NTSTATUS WritesAccepted(const Filter* filter) {
    if (filter->removed) return STATUS_DEVICE_REMOVED;
    if (!filter->started) return STATUS_DEVICE_NOT_READY;
    if (!filter->fullPower) return STATUS_POWER_STATE_INVALID;
    return STATUS_SUCCESS;
}

BOOLEAN TakeGate(Filter* filter, ULONG timeoutMs) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10000LL * timeoutMs;
    return KeWaitForSingleObject(&filter->gate, Executive, KernelMode, FALSE, &timeout) ==
           STATUS_SUCCESS;
}

NTSTATUS EnterGateForWrite(Filter* filter) {
    void* objects[2] = {&filter->gate, &filter->closed};
    LARGE_INTEGER timeout;
    NTSTATUS status;
    timeout.QuadPart = -10000LL * GATE_TIMEOUT_MS;
    status =
        KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, &timeout, NULL);
    if (status == STATUS_WAIT_1) {
        status = WritesAccepted(filter);
        if (!NT_SUCCESS(status)) return status;
        /* Open again, its flag set before the event was cleared: the gate alone then. */
        status = KeWaitForSingleObject(&filter->gate, Executive, KernelMode, FALSE, &timeout);
    }
    if (status != STATUS_WAIT_0) return STATUS_DEVICE_BUSY;
    /* Whatever happened while it waited: the state is read again behind the gate. */
    status = WritesAccepted(filter);
    if (!NT_SUCCESS(status)) LeaveGate(filter);
    return status;
}

void LeaveGate(Filter* filter) { KeSetEvent(&filter->gate, IO_NO_INCREMENT, FALSE); }

/* Writes stop here: those waiting at the gate leave with the reason. */
static void Close(Filter* filter, volatile LONG* flag, LONG value) {
    InterlockedExchange(flag, value);
    KeSetEvent(&filter->closed, IO_NO_INCREMENT, FALSE);
}

/* ---- The extension-unit request ------------------------------------------------------------ */

static NTSTATUS ExtensionUnitRequest(Filter* filter, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    XuTransfer transfer;
    NTSTATUS status = WritesAccepted(filter);
    if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
    /* The system buffer holds max(inSize, outSize) bytes; the rule reads only inSize of them. */
    if (!XuDescribeTransfer(irp->AssociatedIrp.SystemBuffer, inSize, outSize, &transfer))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    if (!XuTransferAllowed(&transfer)) return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    status = EnterGateForWrite(filter);
    if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
    /* Stored settings not yet back since power returned go first, whoever gets here first. */
    if (InterlockedExchange(&filter->restoreDue, 0)) {
        RestoreStoredSettings(filter);
        status = WritesAccepted(filter);
    }
    if (NT_SUCCESS(status)) status = SendVendorWrite(filter, &transfer);
    LeaveGate(filter);
    return Complete(irp, status, NT_SUCCESS(status) ? XuBytesReturned(&transfer, 0) : 0);
}

/* ---- Plug and play ------------------------------------------------------------------------- */

static NTSTATUS Start(Filter* filter, IRP* irp) {
    /* The class driver below enables the capture interface during its start: a write that comes
     * through it before the settings are back waits for them at the gate. */
    const BOOLEAN gate = TakeGate(filter, GATE_TIMEOUT_MS);
    NTSTATUS status;
    KeClearEvent(&filter->closed);
    InterlockedExchange(&filter->fullPower, 1); /* a device starts at D0 */
    InterlockedExchange(&filter->started, 1);
    status = ForwardAndWait(filter->lower, irp);
    if (NT_SUCCESS(status) && !filter->removed) {
        filter->standardPowerLine = ReadStandardPowerLine(filter);
        InterlockedExchange(&filter->restoreDue, 0);
        RestoreStoredSettings(filter);
    } else {
        Close(filter, &filter->started, 0);
    }
    if (gate) LeaveGate(filter);
    return status;
}

/* A stopped or departing stack takes no write; the one in flight ends before the request goes
 * on (it is bounded). */
static void Quiesce(Filter* filter, volatile LONG* flag, LONG value) {
    Close(filter, flag, value);
    if (TakeGate(filter, GATE_TIMEOUT_MS)) LeaveGate(filter);
}

static NTSTATUS Pnp(Filter* filter, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = Start(filter, irp);
        IoReleaseRemoveLock(&filter->removeLock, irp);
        return Complete(irp, status, irp->IoStatus.Information);
    case IRP_MN_STOP_DEVICE:
        Quiesce(filter, &filter->started, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        InterlockedExchange(&filter->started, 0);
        Quiesce(filter, &filter->removed, 1);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        DEVICE_OBJECT* lower = filter->lower;
        InterlockedExchange(&filter->started, 0);
        Close(filter, &filter->removed, 1);
        /* Waits for the requests still inside the filter, a queued restore among them. */
        IoReleaseRemoveLockAndWait(&filter->removeLock, irp);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoFreeWorkItem(filter->restoreItem);
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

/* ---- Dispatch ------------------------------------------------------------------------------ */

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
        return DispatchPower(filter, irp); /* so does this */
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
    KeInitializeEvent(&filter->closed, NotificationEvent, TRUE);
    filter->restoreItem = IoAllocateWorkItem(device);
    if (!filter->restoreItem) {
        IoDeleteDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    filter->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (!filter->lower) {
        IoFreeWorkItem(filter->restoreItem);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    /* A filter looks like the device below it to the I/O manager, the PnP manager and the power
     * manager. */
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

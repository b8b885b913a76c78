/* The filter's power requests. The class driver below owns the camera's power policy: it turns
 * system sleep and wake into device power requests, and may idle the camera on its own. The
 * filter lets each pass; on the way to low power it stops writes first, and once the camera is
 * back at full power (after a sleep or a hibernation it has lost what it was set to) it puts the
 * stored settings back from a work item, at passive level, under the gate. */
#include <ntddk.h>

#include "Common/KernelIrp.h"
#include "DriverPackage/Filter.h"

static void WINAPI RestoreWork(DEVICE_OBJECT* device, void* context) {
    Filter* filter = context;
    (void)device;
    /* A later return to full power queues the item anew from here on. */
    InterlockedExchange(&filter->restoreQueued, 0);
    /* A write that got the gate first has put the settings back already; one that went low
     * again, or a gate that stayed taken, leaves them to the next write or the next return. */
    if (EnterGateForWrite(filter) == STATUS_SUCCESS) {
        if (InterlockedExchange(&filter->restoreDue, 0)) RestoreStoredSettings(filter);
        LeaveGate(filter);
    }
    IoReleaseRemoveLock(&filter->removeLock, filter->restoreItem);
}

/* Any IRQL: a completion routine may run at dispatch level. */
static void QueueRestore(Filter* filter) {
    if (InterlockedCompareExchange(&filter->restoreQueued, 1, 0) != 0) return;
    /* Held until the work item has run: the device's removal waits for it. */
    if (!NT_SUCCESS(IoAcquireRemoveLock(&filter->removeLock, filter->restoreItem))) {
        InterlockedExchange(&filter->restoreQueued, 0);
        return;
    }
    IoQueueWorkItem(filter->restoreItem, RestoreWork, DelayedWorkQueue, filter);
}

static NTSTATUS WINAPI FullPowerDone(DEVICE_OBJECT* device, IRP* irp, void* context) {
    Filter* filter = context;
    POWER_STATE state;
    (void)device;
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    if (NT_SUCCESS(irp->IoStatus.Status)) {
        state.DeviceState = PowerDeviceD0;
        PoSetPowerState(filter->self, DevicePowerState, state);
        /* Due before writes are let in: the first to get the gate puts the settings back. */
        InterlockedExchange(&filter->restoreDue, 1);
        if (filter->started && !filter->removed) KeClearEvent(&filter->closed);
        InterlockedExchange(&filter->fullPower, 1);
        if (NT_SUCCESS(WritesAccepted(filter))) QueueRestore(filter);
    }
    PoStartNextPowerIrp(irp);
    IoReleaseRemoveLock(&filter->removeLock, irp);
    return STATUS_CONTINUE_COMPLETION;
}

NTSTATUS DispatchPower(Filter* filter, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    if (stack->MinorFunction == IRP_MN_SET_POWER &&
        stack->Parameters.Power.Type == DevicePowerState) {
        POWER_STATE state = stack->Parameters.Power.State;
        if (state.DeviceState == PowerDeviceD0) {
            IoCopyCurrentIrpStackLocationToNext(irp);
            IoSetCompletionRoutine(irp, FullPowerDone, filter, TRUE, TRUE, TRUE);
            return PoCallDriver(filter->lower, irp);
        }
        /* No write reaches a camera below full power: new ones fail at once, one waiting at the
         * gate leaves, and the one in flight ends before the camera powers down. A stack that is
         * not pageable powers down at dispatch level, where nothing waits: its own power-down
         * then ends the transfer in flight. */
        InterlockedExchange(&filter->fullPower, 0);
        KeSetEvent(&filter->closed, IO_NO_INCREMENT, FALSE);
        if (KeGetCurrentIrql() == PASSIVE_LEVEL && TakeGate(filter, GATE_TIMEOUT_MS))
            LeaveGate(filter);
        PoSetPowerState(filter->self, DevicePowerState, state);
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    status = PoCallDriver(filter->lower, irp);
    IoReleaseRemoveLock(&filter->removeLock, irp);
    return status;
}

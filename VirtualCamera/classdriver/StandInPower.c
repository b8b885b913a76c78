/* The power policy of the class driver stand-in. The platform's power manager would have the
 * device power requests built with PoRequestPowerIrp, which Wine 8.0 exports as a stub: the
 * stand-in builds each itself and sends it to the top of the camera's stack, as that call does. */
#include <ntddk.h>

#include "Common/KernelIrp.h"
#include "VirtualCamera/bus/VirtualUsbControl.h"
#include "VirtualCamera/classdriver/StandInPower.h"

/* Well above what the stack's drivers take; it only bounds a broken one. */
#define POWER_TIMEOUT_MS 10000

static NTSTATUS RequestDevicePower(DEVICE_OBJECT* pdo, DEVICE_POWER_STATE state) {
    DEVICE_OBJECT* top = IoGetAttachedDeviceReference(pdo);
    IO_STACK_LOCATION* next;
    NTSTATUS status;
    IRP* irp = IoAllocateIrp(top->StackSize, FALSE);
    if (!irp) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = IRP_MN_SET_POWER;
    next->Parameters.Power.Type = DevicePowerState;
    next->Parameters.Power.State.DeviceState = state;
    status = CallAndWait(top, irp, POWER_TIMEOUT_MS);
    IoFreeIrp(irp);
    ObDereferenceObject(top);
    return status;
}

NTSTATUS StandInPower(DEVICE_OBJECT* pdo, DEVICE_OBJECT* lower, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction == IRP_MN_SET_POWER &&
        stack->Parameters.Power.Type == SystemPowerState) {
        if (stack->Parameters.Power.State.SystemState == PowerSystemWorking) {
            /* Waking: the system first, then the camera back to full power. */
            NTSTATUS status = ForwardAndWait(lower, irp);
            if (NT_SUCCESS(status)) RequestDevicePower(pdo, PowerDeviceD0);
            PoStartNextPowerIrp(irp);
            return Complete(irp, status, irp->IoStatus.Information);
        }
        /* Going to sleep: the camera powers down first. */
        RequestDevicePower(pdo, PowerDeviceD3);
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(lower, irp);
}

NTSTATUS StandInIdle(DEVICE_OBJECT* pdo, IRP* irp) {
    const BOOLEAN idle = IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1 != NULL;
    return Complete(irp, RequestDevicePower(pdo, idle ? PowerDeviceD2 : PowerDeviceD0), 0);
}

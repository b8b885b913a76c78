#pragma once
/* What every WDM driver here does with a request the same way: completing it, and passing it down
 * to wait for the layers below. Plain C, for kernel sources (ntddk.h included first). */

static __inline NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* A completion routine that keeps the request for its sender: it signals the event it was given
 * and leaves the request's end to whoever waits on it. */
static NTSTATUS WINAPI SignalDone(DEVICE_OBJECT* device, IRP* irp, void* event) {
    (void)device;
    (void)irp;
    KeSetEvent((KEVENT*)event, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Sends a request of the caller's own (its next stack location filled) and waits for it within
 * the bound: one not done by then is cancelled, and then awaited, since a cancelled request always
 * comes back. The request stays the caller's to read and free. */
static __inline NTSTATUS CallAndWait(DEVICE_OBJECT* target, IRP* irp, ULONG timeoutMs) {
    LARGE_INTEGER timeout;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(target, irp) == STATUS_PENDING) {
        timeout.QuadPart = -10000LL * timeoutMs;
        if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) ==
            STATUS_TIMEOUT) {
            IoCancelIrp(irp);
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        }
    }
    return irp->IoStatus.Status;
}

/* Passes the request down and waits for the layers below to finish it; the caller completes it. */
static __inline NTSTATUS ForwardAndWait(DEVICE_OBJECT* lower, IRP* irp) {
    KEVENT done;
    NTSTATUS status;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    status = IoCallDriver(lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    return status;
}

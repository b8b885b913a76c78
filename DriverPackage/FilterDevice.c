/* What the filter asks of the camera itself: vendor writes on the default pipe, the configuration
 * descriptor set, and the stored settings put back. Every request goes to the bottom of the
 * stack: the class driver above the bus owns the camera's interfaces and answers kernel-streaming
 * requests, but the default pipe is the device's, and the bus driver takes a control request
 * from any driver of the stack, as filters that talk to the device beside a class driver do. */
#include <ntddk.h>
#include <usb.h>
#include <usbioctl.h>

#include "Common/KernelIrp.h"
#include "DLL/props/ControlTable.h"
#include "DriverPackage/Filter.h"

/* One request block to the bus, within the transfer bound. */
static NTSTATUS SendUrb(Filter* filter, URB* urb) {
    IO_STACK_LOCATION* next;
    NTSTATUS status;
    IRP* irp = IoAllocateIrp(filter->pdo->StackSize, FALSE);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    status = CallAndWait(filter->pdo, irp, TRANSFER_TIMEOUT_MS);
    if (status == STATUS_CANCELLED) status = STATUS_IO_TIMEOUT;
    if (NT_SUCCESS(status) && !USBD_SUCCESS(urb->UrbHeader.Status)) status = STATUS_UNSUCCESSFUL;
    IoFreeIrp(irp);
    return status;
}

NTSTATUS SendVendorWrite(Filter* filter, const XuTransfer* transfer) {
    struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST urb;
    RtlZeroMemory(&urb, sizeof urb);
    urb.Hdr.Length = sizeof urb;
    urb.Hdr.Function = URB_FUNCTION_VENDOR_DEVICE;
    urb.TransferFlags = USBD_TRANSFER_DIRECTION_OUT;
    urb.Request = transfer->request;
    urb.Value = transfer->value;
    urb.Index = transfer->index;
    return SendUrb(filter, (URB*)&urb);
}

/* The first `length` bytes of configuration 0's descriptor set; the count the device gave. */
static ULONG ReadConfiguration(Filter* filter, void* buffer, ULONG length) {
    struct _URB_CONTROL_DESCRIPTOR_REQUEST urb;
    RtlZeroMemory(&urb, sizeof urb);
    urb.Hdr.Length = sizeof urb;
    urb.Hdr.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    urb.TransferBuffer = buffer;
    urb.TransferBufferLength = length;
    urb.DescriptorType = USB_CONFIGURATION_DESCRIPTOR_TYPE;
    if (!NT_SUCCESS(SendUrb(filter, (URB*)&urb)) || urb.TransferBufferLength > length) return 0;
    return urb.TransferBufferLength;
}

/* The library decides from the same descriptor set and by the same scan, so that both leave the
 * vendor power-line control to the standard one where the camera offers it. */
uint32_t ReadStandardPowerLine(Filter* filter) {
    UCHAR head[9];
    uint32_t flag = 0;
    ULONG total;
    UCHAR* set;
    if (ReadConfiguration(filter, head, sizeof head) != sizeof head) return 0;
    total = head[2] | (ULONG)head[3] << 8;
    if (total < sizeof head) return 0;
    set = ExAllocatePoolWithTag(NonPagedPoolNx, total, POOL_TAG);
    if (!set) return 0;
    if (ReadConfiguration(filter, set, total) != total || !XuStandardPowerLine(set, total, &flag))
        flag = 0;
    ExFreePoolWithTag(set, POOL_TAG);
    return flag;
}

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
 * whoever waits for it waits once at most. */
void RestoreStoredSettings(Filter* filter) {
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
    count = XuStartUpTransfers(ReadStoredValue, settings, filter->standardPowerLine, transfers,
                               PropertyCount);
    ZwClose(settings);
    for (i = 0; i < count && NT_SUCCESS(WritesAccepted(filter)); ++i)
        if (SendVendorWrite(filter, &transfers[i]) == STATUS_IO_TIMEOUT) break;
}

/* Enabling the capture interfaces the camera's installation registered, by hand (see the
 * header). Tests and the demo only. */
#include "VirtualCamera/classdriver/CaptureInterfaces.h"

#include "Common/KernelIrp.h"

#define POOL_TAG 0x49435655u /* "UVCI" in a pool dump */
#define KEY_CHARS 512
#define LINK_BYTES 512

static const WCHAR* const Categories[CAPTURE_CATEGORIES] = {
    L"{65E8773D-8F56-11D0-A3B9-00A0C9223196}", /* KSCATEGORY_CAPTURE */
    L"{6994AD05-93EF-11D0-A3CC-00A0C9223196}", /* KSCATEGORY_VIDEO */
    L"{E5323777-F976-4F5B-9B55-B94699C46E44}", /* KSCATEGORY_VIDEO_CAMERA */
};

/* One of the device's IDs, asked of the bus as the PnP manager asks it; the caller frees it.
 * Like every PnP request it cannot be cancelled: the bus answers it at once, which the PnP
 * manager's own waits for the same request rely on. */
static NTSTATUS QueryId(DEVICE_OBJECT* lower, BUS_QUERY_ID_TYPE type, WCHAR** id) {
    KEVENT done;
    IO_STACK_LOCATION* next;
    NTSTATUS status;
    IRP* irp = IoAllocateIrp(lower->StackSize, FALSE);
    *id = NULL;
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_ID;
    next->Parameters.QueryId.IdType = type;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->IoStatus.Information = 0;
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(lower, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
    if (NT_SUCCESS(status)) *id = (WCHAR*)irp->IoStatus.Information;
    IoFreeIrp(irp);
    if (NT_SUCCESS(status) && !*id) status = STATUS_NOT_FOUND;
    return status;
}

/* Appends `text`, '\' read as '#' when `hashes`; false once `key` is full. */
static BOOLEAN Append(WCHAR* key, ULONG* at, const WCHAR* text, BOOLEAN hashes) {
    for (; *text; ++text) {
        if (*at + 1 >= KEY_CHARS) return FALSE;
        key[(*at)++] = hashes && *text == L'\\' ? L'#' : *text;
    }
    key[*at] = 0;
    return TRUE;
}

/* ...\DeviceClasses\{category}\##?#<device ID>#<instance ID>#{category}\#GLOBAL, the key that
 * SetupAPI made for the interface when the installation added it. */
static NTSTATUS OpenInterfaceKey(const WCHAR* category, const WCHAR* deviceId,
                                 const WCHAR* instanceId, HANDLE* key) {
    WCHAR name[KEY_CHARS];
    ULONG at = 0;
    UNICODE_STRING nameU;
    OBJECT_ATTRIBUTES attributes;
    if (!Append(name, &at,
                L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses\\",
                FALSE) ||
        !Append(name, &at, category, FALSE) || !Append(name, &at, L"\\##?#", FALSE) ||
        !Append(name, &at, deviceId, TRUE) || !Append(name, &at, L"#", FALSE) ||
        !Append(name, &at, instanceId, TRUE) || !Append(name, &at, L"#", FALSE) ||
        !Append(name, &at, category, FALSE) || !Append(name, &at, L"\\#GLOBAL", FALSE))
        return STATUS_NAME_TOO_LONG;
    RtlInitUnicodeString(&nameU, name);
    InitializeObjectAttributes(&attributes, &nameU, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    return ZwOpenKey(key, KEY_READ | KEY_CREATE_SUB_KEY, &attributes);
}

/* The interface's "SymbolicLink" ("\\?\usb#...\global") as the kernel's name for it
 * ("\??\usb#...\global"), in a buffer of its own. */
static NTSTATUS ReadLink(HANDLE key, UNICODE_STRING* link) {
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + LINK_BYTES];
    } reply;
    UNICODE_STRING valueName;
    ULONG length = 0, chars;
    const WCHAR* text;
    RtlInitUnicodeString(&valueName, L"SymbolicLink");
    if (!NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &reply,
                                    sizeof reply, &length)) ||
        reply.info.Type != REG_SZ || reply.info.DataLength > LINK_BYTES)
        return STATUS_OBJECT_NAME_INVALID;
    text = (const WCHAR*)reply.info.Data;
    chars = reply.info.DataLength / sizeof(WCHAR);
    while (chars > 0 && text[chars - 1] == 0) --chars;
    if (chars <= 4 || text[0] != L'\\' || text[1] != L'\\' || text[2] != L'?' || text[3] != L'\\')
        return STATUS_OBJECT_NAME_INVALID;
    link->Buffer = ExAllocatePoolWithTag(PagedPool, chars * sizeof(WCHAR), POOL_TAG);
    if (!link->Buffer) return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(link->Buffer, text, chars * sizeof(WCHAR));
    link->Buffer[1] = L'?';
    link->Buffer[2] = L'?';
    link->Length = link->MaximumLength = (USHORT)(chars * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

static void Unlink(CaptureInterface* entry) {
    if (entry->control) {
        ZwDeleteKey(entry->control);
        ZwClose(entry->control);
        entry->control = NULL;
    }
    if (entry->directory) {
        IoDeleteSymbolicLink(&entry->link);
        ZwClose(entry->directory);
        entry->directory = NULL;
    }
    if (entry->link.Buffer) ExFreePoolWithTag(entry->link.Buffer, POOL_TAG);
    RtlZeroMemory(&entry->link, sizeof entry->link);
}

/* What enabling does: the link's directory ("\??\usb#...#{category}"), the link to the camera's
 * device, and the volatile Control\Linked = 1 that SetupAPI lists a present interface by. */
static NTSTATUS Link(CaptureInterface* entry, HANDLE key, UNICODE_STRING* target) {
    UNICODE_STRING directory = entry->link, control;
    OBJECT_ATTRIBUTES attributes;
    ULONG one = 1, i, split = 0, chars = entry->link.Length / sizeof(WCHAR);
    HANDLE made;
    NTSTATUS status;
    for (i = 4; i < chars; ++i)
        if (entry->link.Buffer[i] == L'\\') split = i;
    if (split == 0 || split + 1 >= chars) return STATUS_OBJECT_NAME_INVALID;
    directory.Length = (USHORT)(split * sizeof(WCHAR));
    InitializeObjectAttributes(&attributes, &directory,
                               OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE | OBJ_OPENIF, NULL, NULL);
    status = ZwCreateDirectoryObject(&made, DIRECTORY_ALL_ACCESS, &attributes);
    if (!NT_SUCCESS(status)) return status;
    status = IoCreateSymbolicLink(&entry->link, target);
    if (!NT_SUCCESS(status)) {
        ZwClose(made);
        return status;
    }
    entry->directory = made;
    RtlInitUnicodeString(&control, L"Control");
    InitializeObjectAttributes(&attributes, &control, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, key,
                               NULL);
    status = ZwCreateKey(&made, KEY_ALL_ACCESS, &attributes, 0, NULL, REG_OPTION_VOLATILE, NULL);
    if (!NT_SUCCESS(status)) return status;
    entry->control = made;
    RtlInitUnicodeString(&control, L"Linked");
    return ZwSetValueKey(made, &control, 0, REG_DWORD, &one, sizeof one);
}

NTSTATUS EnableCaptureInterfaces(CaptureInterfaces* interfaces, DEVICE_OBJECT* lower,
                                 DEVICE_OBJECT* pdo) {
    WCHAR pdoName[128];
    UNICODE_STRING target;
    WCHAR *deviceId = NULL, *instanceId = NULL;
    ULONG needed = 0, i;
    HANDLE key;
    NTSTATUS status = IoGetDeviceProperty(pdo, DevicePropertyPhysicalDeviceObjectName,
                                          sizeof pdoName - sizeof(WCHAR), pdoName, &needed);
    if (NT_SUCCESS(status)) status = QueryId(lower, BusQueryDeviceID, &deviceId);
    if (NT_SUCCESS(status)) status = QueryId(lower, BusQueryInstanceID, &instanceId);
    pdoName[sizeof pdoName / sizeof(WCHAR) - 1] = 0;
    RtlInitUnicodeString(&target, pdoName);
    for (i = 0; i < CAPTURE_CATEGORIES && NT_SUCCESS(status); ++i) {
        CaptureInterface* entry = &interfaces->each[i];
        if (entry->link.Buffer) continue; /* enabled already */
        status = OpenInterfaceKey(Categories[i], deviceId, instanceId, &key);
        if (status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_OBJECT_PATH_NOT_FOUND) {
            status = STATUS_SUCCESS; /* none registered in this category */
            continue;
        }
        if (!NT_SUCCESS(status)) break;
        status = ReadLink(key, &entry->link);
        if (NT_SUCCESS(status)) status = Link(entry, key, &target);
        ZwClose(key);
    }
    if (deviceId) ExFreePool(deviceId);
    if (instanceId) ExFreePool(instanceId);
    if (!NT_SUCCESS(status)) DisableCaptureInterfaces(interfaces);
    return status;
}

void DisableCaptureInterfaces(CaptureInterfaces* interfaces) {
    ULONG i;
    for (i = 0; i < CAPTURE_CATEGORIES; ++i) Unlink(&interfaces->each[i]);
}

/* The virtual USB hardware in the kernel: a root-enumerated bus driver that plays the host
 * controllers (\\.\HCDn), their hubs (\\.\<hub name>) and the camera, whose function it reports
 * to the platform as a child device. What each request gets is the shared hardware model's
 * answer (hardware/UsbHardware.h); this file is the plumbing around it. Tests and the demo only:
 * the product never installs it. */
#include <ntddk.h>
#include <usb.h>
#include <usbioctl.h>

#include "VirtualCamera/bus/VirtualUsbControl.h"
#include "VirtualCamera/hardware/UsbHardware.h"

#define POOL_TAG 0x62737556u /* "Vusb" in a pool dump */

enum DeviceKind { KindBus = 1, KindControl, KindController, KindHub, KindCamera };

typedef struct Extension {
    int kind;
    int index; /* controller number or hub id */
} Extension;

typedef struct CameraExtension {
    int kind;
    BOOLEAN reported; /* in the bus's relations; false once pulled out */
    BOOLEAN enumerated;
    BOOLEAN started;
} CameraExtension;

/* One bus: the platform enumerates one root device for it. */
static struct {
    FAST_MUTEX lock; /* everything below */
    DEVICE_OBJECT* fdo;
    DEVICE_OBJECT* lower;
    DEVICE_OBJECT* pdo; /* the root device below the bus */
    DEVICE_OBJECT* control;
    VusbScene* scene; /* null while unplugged; the pool follows it */
    SIZE_T sceneBytes;
    BOOLEAN cameraPlugged;
    DEVICE_OBJECT* camera; /* the camera as reported now */
    ULONG departedAlive;
    ULONG plugCount;
    ULONG pdoNumber;
    VusbCameraState values;
    DEVICE_OBJECT* controllers[VusbControllerCount];
    DEVICE_OBJECT* hubs[VusbMaxHubs];
} bus;

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ---- Names ------------------------------------------------------------------------------- */

typedef struct Text {
    WCHAR* at;
    ULONG used; /* characters */
    ULONG room;
} Text;

static void Append(Text* t, const WCHAR* s) {
    while (*s && t->used + 1 < t->room) t->at[t->used++] = *s++;
    t->at[t->used] = 0;
}

static void AppendAnsi(Text* t, const char* s) {
    while (*s && t->used + 1 < t->room) t->at[t->used++] = (WCHAR)(UCHAR)*s++;
    t->at[t->used] = 0;
}

static void AppendHex(Text* t, ULONG value, int digits, BOOLEAN upper) {
    const WCHAR* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    while (digits-- > 0 && t->used + 1 < t->room)
        t->at[t->used++] = set[(value >> (4 * digits)) & 15];
    t->at[t->used] = 0;
}

static void AppendDecimal(Text* t, ULONG value) {
    WCHAR digits[12];
    int n = 0;
    do {
        digits[n++] = (WCHAR)(L'0' + value % 10);
        value /= 10;
    } while (value);
    while (n > 0 && t->used + 1 < t->room) t->at[t->used++] = digits[--n];
    t->at[t->used] = 0;
}

/* A named device object with a link in \DosDevices. */
static NTSTATUS CreateNamed(DRIVER_OBJECT* driver, const WCHAR* name, const WCHAR* link,
                            ULONG extensionSize, DEVICE_TYPE type, DEVICE_OBJECT** device) {
    UNICODE_STRING nameU, linkU;
    NTSTATUS status;
    RtlInitUnicodeString(&nameU, name);
    status = IoCreateDevice(driver, extensionSize, &nameU, type, 0, FALSE, device);
    if (!NT_SUCCESS(status)) return status;
    RtlZeroMemory((*device)->DeviceExtension, extensionSize);
    RtlInitUnicodeString(&linkU, link);
    status = IoCreateSymbolicLink(&linkU, &nameU);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*device);
        *device = NULL;
        return status;
    }
    (*device)->Flags |= DO_BUFFERED_IO;
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void DeleteNamed(DEVICE_OBJECT* device, const WCHAR* link) {
    UNICODE_STRING linkU;
    RtlInitUnicodeString(&linkU, link);
    IoDeleteSymbolicLink(&linkU);
    IoDeleteDevice(device);
}

static void ControllerNames(int number, WCHAR* name, WCHAR* link, ULONG room) {
    Text n = {name, 0, room}, l = {link, 0, room};
    Append(&n, L"\\Device\\VirtualUsbHcd");
    AppendDecimal(&n, (ULONG)number);
    Append(&l, L"\\DosDevices\\HCD");
    AppendDecimal(&l, (ULONG)number);
}

static void HubNames(int hub, const char* hubName, WCHAR* name, WCHAR* link, ULONG room) {
    Text n = {name, 0, room}, l = {link, 0, room};
    Append(&n, L"\\Device\\VirtualUsbHub");
    AppendDecimal(&n, (ULONG)hub);
    Append(&l, L"\\DosDevices\\");
    AppendAnsi(&l, hubName);
}

/* ---- Plugging ----------------------------------------------------------------------------- */

/* The camera as the platform sees it: a new device object for every plug, so that the platform
 * removes the old stack before it builds the new one. Called with the lock held. */
static void ReportCamera(BOOLEAN present) {
    if (bus.camera) {
        CameraExtension* old = bus.camera->DeviceExtension;
        old->reported = FALSE;
        ++bus.departedAlive;
        bus.camera = NULL;
    }
    if (present && bus.scene && bus.scene->cameraHub) {
        WCHAR name[40];
        Text n = {name, 0, 40};
        UNICODE_STRING nameU;
        DEVICE_OBJECT* device;
        Append(&n, L"\\Device\\USBPDO-");
        AppendDecimal(&n, 100 + bus.pdoNumber++);
        RtlInitUnicodeString(&nameU, name);
        /* The platform links the camera's interfaces to this name. */
        if (NT_SUCCESS(IoCreateDevice(bus.fdo->DriverObject, sizeof(CameraExtension), &nameU,
                                      FILE_DEVICE_UNKNOWN, FILE_AUTOGENERATED_DEVICE_NAME, FALSE,
                                      &device))) {
            CameraExtension* e = device->DeviceExtension;
            RtlZeroMemory(e, sizeof *e);
            e->kind = KindCamera;
            e->reported = TRUE;
            device->Flags &= ~DO_DEVICE_INITIALIZING;
            bus.camera = device;
            ++bus.plugCount;
        }
    }
    if (bus.pdo) IoInvalidateDeviceRelations(bus.pdo, BusRelations);
}

static void UnplugBus(void) {
    WCHAR name[200], link[200];
    int i;
    if (!bus.scene) return;
    for (i = 0; i < VusbControllerCount; ++i) {
        if (!bus.controllers[i]) continue;
        ControllerNames(i, name, link, 200);
        DeleteNamed(bus.controllers[i], link);
        bus.controllers[i] = NULL;
    }
    for (i = 1; i < VusbMaxHubs; ++i) {
        if (!bus.hubs[i]) continue;
        HubNames(i, bus.scene->hubs[i].name, name, link, 200);
        DeleteNamed(bus.hubs[i], link);
        bus.hubs[i] = NULL;
    }
    ExFreePoolWithTag(bus.scene, POOL_TAG);
    bus.scene = NULL;
    bus.sceneBytes = 0;
    bus.cameraPlugged = FALSE;
    ReportCamera(FALSE);
}

static NTSTATUS PlugBus(const void* bytes, ULONG size) {
    WCHAR name[200], link[200];
    NTSTATUS status = STATUS_SUCCESS;
    DEVICE_OBJECT* device;
    int i;
    if (size < sizeof(VusbScene) || size - sizeof(VusbScene) > VusbMaxPoolBytes)
        return STATUS_INVALID_PARAMETER;
    UnplugBus();
    bus.scene = ExAllocatePoolWithTag(NonPagedPool, size, POOL_TAG);
    if (!bus.scene) return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(bus.scene, bytes, size);
    bus.sceneBytes = size;
    if (!VusbSceneIsSound(bus.scene, (uint32_t)(size - sizeof(VusbScene)))) {
        ExFreePoolWithTag(bus.scene, POOL_TAG);
        bus.scene = NULL;
        return STATUS_INVALID_PARAMETER;
    }
    RtlZeroMemory(&bus.values, sizeof bus.values);
    for (i = 0; i < VusbControllerCount && NT_SUCCESS(status); ++i) {
        if (!bus.scene->controllers[i].present) continue;
        ControllerNames(i, name, link, 200);
        status = CreateNamed(bus.fdo->DriverObject, name, link, sizeof(Extension),
                             FILE_DEVICE_UNKNOWN, &device);
        if (!NT_SUCCESS(status)) break;
        ((Extension*)device->DeviceExtension)->kind = KindController;
        ((Extension*)device->DeviceExtension)->index = i;
        bus.controllers[i] = device;
    }
    for (i = 1; i < VusbMaxHubs && NT_SUCCESS(status); ++i) {
        if (!bus.scene->hubs[i].used) continue;
        HubNames(i, bus.scene->hubs[i].name, name, link, 200);
        status = CreateNamed(bus.fdo->DriverObject, name, link, sizeof(Extension),
                             FILE_DEVICE_UNKNOWN, &device);
        if (status == STATUS_OBJECT_NAME_COLLISION) {
            status = STATUS_SUCCESS; /* two hubs of one name: the first answers, as on a real bus */
            continue;
        }
        if (!NT_SUCCESS(status)) break;
        ((Extension*)device->DeviceExtension)->kind = KindHub;
        ((Extension*)device->DeviceExtension)->index = i;
        bus.hubs[i] = device;
    }
    if (!NT_SUCCESS(status)) {
        UnplugBus();
        return status;
    }
    bus.cameraPlugged = TRUE;
    ReportCamera(TRUE);
    return STATUS_SUCCESS;
}

/* While the camera is out its port reads as empty. Called with the lock held. */
static void PlugCamera(BOOLEAN in) {
    VusbPort* port;
    uint32_t i;
    if (!bus.scene || !bus.scene->cameraHub || bus.cameraPlugged == in) return;
    for (i = 0; i < bus.scene->portCount; ++i) {
        port = &bus.scene->ports[i];
        if (port->hub == bus.scene->cameraHub && port->number == bus.scene->cameraPort)
            port->kind = in ? VusbDevicePort : VusbEmpty;
    }
    bus.cameraPlugged = in;
    ReportCamera(in);
}

/* ---- The camera's identity ---------------------------------------------------------------- */

static const VusbPort* CameraPort(void) {
    if (!bus.scene || !bus.scene->cameraHub) return NULL;
    return VusbFindPort(bus.scene, bus.scene->cameraHub, bus.scene->cameraPort);
}

/* Lists of IDs as the platform wants them: pool memory it frees, terminated twice for lists. */
static NTSTATUS QueryId(IRP* irp, BUS_QUERY_ID_TYPE type) {
    WCHAR buffer[400];
    Text t = {buffer, 0, 400};
    const VusbPort* port;
    BOOLEAN composite, list = FALSE;
    ULONG vid, pid, place, i;
    WCHAR* result;
    ExAcquireFastMutex(&bus.lock);
    port = CameraPort();
    if (!port) {
        ExReleaseFastMutex(&bus.lock);
        return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
    }
    composite = bus.scene->cameraComposite;
    vid = port->vendorId;
    pid = port->productId;
    /* The instance part follows the camera's place on the bus, as the platform's would. */
    place = 2166136261u;
    for (i = 0; bus.scene->hubs[port->hub].name[i]; ++i)
        place = (place ^ (UCHAR)bus.scene->hubs[port->hub].name[i]) * 16777619u;
    place = (place ^ port->number) * 16777619u;
    ExReleaseFastMutex(&bus.lock);

    switch (type) {
    case BusQueryDeviceID:
    case BusQueryHardwareIDs:
        list = type == BusQueryHardwareIDs;
        Append(&t, L"USB\\VID_");
        AppendHex(&t, vid, 4, TRUE);
        Append(&t, L"&PID_");
        AppendHex(&t, pid, 4, TRUE);
        if (list) Append(&t, L"&REV_0100");
        if (composite) Append(&t, L"&MI_00");
        if (list) {
            t.used++;
            Append(&t, L"USB\\VID_");
            AppendHex(&t, vid, 4, TRUE);
            Append(&t, L"&PID_");
            AppendHex(&t, pid, 4, TRUE);
            if (composite) Append(&t, L"&MI_00");
        }
        break;
    case BusQueryCompatibleIDs:
        list = TRUE;
        Append(&t, composite ? L"USB\\Class_0E&SubClass_03&Prot_00"
                             : L"USB\\DevClass_EF&SubClass_02&Prot_01");
        t.used++;
        Append(&t, composite ? L"USB\\Class_0E&SubClass_03" : L"USB\\DevClass_EF&SubClass_02");
        t.used++;
        Append(&t, composite ? L"USB\\Class_0E" : L"USB\\COMPOSITE");
        break;
    case BusQueryInstanceID:
        Append(&t, composite ? L"6&" : L"5&");
        AppendHex(&t, place, 8, FALSE);
        Append(&t, L"&0&");
        if (composite)
            Append(&t, L"0000");
        else
            AppendDecimal(&t, port->number);
        break;
    default:
        return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
    t.used += list ? 2 : 1;
    result = ExAllocatePoolWithTag(PagedPool, t.used * sizeof(WCHAR), POOL_TAG);
    if (!result) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    RtlCopyMemory(result, buffer, t.used * sizeof(WCHAR));
    result[t.used - 1] = 0;
    if (list) result[t.used - 2] = 0;
    return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)result);
}

static NTSTATUS QueryText(IRP* irp, DEVICE_TEXT_TYPE type) {
    static const WCHAR description[] = L"USB Camera";
    WCHAR* text;
    if (type != DeviceTextDescription)
        return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    text = ExAllocatePoolWithTag(PagedPool, sizeof description, POOL_TAG);
    if (!text) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    RtlCopyMemory(text, description, sizeof description);
    return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)text);
}

/* ---- The camera's requests ---------------------------------------------------------------- */

static NTSTATUS CameraUrb(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    CameraExtension* e = device->DeviceExtension;
    URB* urb = stack->Parameters.Others.Argument1;
    struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST* request;
    uint32_t transferred = 0;
    int result;
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_INTERNAL_USB_SUBMIT_URB || !urb)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (!e->reported) {
        urb->UrbHeader.Status = USBD_STATUS_DEVICE_GONE;
        return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
    }
    if (urb->UrbHeader.Function != URB_FUNCTION_VENDOR_DEVICE ||
        urb->UrbHeader.Length < sizeof(*request)) {
        urb->UrbHeader.Status = USBD_STATUS_INVALID_URB_FUNCTION;
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
    request = &urb->UrbControlVendorClassRequest;
    if (request->TransferBufferLength > 0xFFFF ||
        (request->TransferBufferLength && !request->TransferBuffer)) {
        urb->UrbHeader.Status = USBD_STATUS_INVALID_PARAMETER;
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    ExAcquireFastMutex(&bus.lock);
    result = VusbCameraControl(
        &bus.values, (request->TransferFlags & USBD_TRANSFER_DIRECTION_IN) ? 0xC0 : 0x40,
        request->Request, request->Value, request->Index, (uint16_t)request->TransferBufferLength,
        request->TransferBuffer, &transferred);
    ExReleaseFastMutex(&bus.lock);
    if (result != VusbOk) {
        urb->UrbHeader.Status = USBD_STATUS_STALL_PID;
        return Complete(irp, STATUS_UNSUCCESSFUL, 0);
    }
    request->TransferBufferLength = transferred;
    urb->UrbHeader.Status = USBD_STATUS_SUCCESS;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS CameraPnp(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    CameraExtension* e = device->DeviceExtension;
    switch (stack->MinorFunction) {
    case IRP_MN_QUERY_ID:
        /* The platform asks for these when it looks for the camera's driver. */
        if (stack->Parameters.QueryId.IdType == BusQueryHardwareIDs) e->enumerated = TRUE;
        return QueryId(irp, stack->Parameters.QueryId.IdType);
    case IRP_MN_QUERY_DEVICE_TEXT:
        return QueryText(irp, stack->Parameters.QueryDeviceText.DeviceTextType);
    case IRP_MN_QUERY_CAPABILITIES: {
        DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
        if (caps->Version != 1 || caps->Size < sizeof(DEVICE_CAPABILITIES))
            return Complete(irp, STATUS_UNSUCCESSFUL, 0);
        caps->Removable = 1;
        caps->SurpriseRemovalOK = 1;
        caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS: {
        DEVICE_RELATIONS* relations;
        if (stack->Parameters.QueryDeviceRelations.Type != TargetDeviceRelation) break;
        relations = ExAllocatePoolWithTag(PagedPool, sizeof *relations, POOL_TAG);
        if (!relations) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        relations->Count = 1;
        relations->Objects[0] = device;
        ObReferenceObject(device);
        return Complete(irp, STATUS_SUCCESS, (ULONG_PTR)relations);
    }
    case IRP_MN_START_DEVICE:
        e->started = TRUE;
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        e->started = FALSE;
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MN_REMOVE_DEVICE: {
        BOOLEAN gone;
        e->started = FALSE;
        ExAcquireFastMutex(&bus.lock);
        /* Only a camera that has left the bus goes; a removed driver leaves it on its port. */
        gone = !e->reported;
        if (gone && bus.departedAlive) --bus.departedAlive;
        ExReleaseFastMutex(&bus.lock);
        Complete(irp, STATUS_SUCCESS, 0);
        if (gone) IoDeleteDevice(device);
        return STATUS_SUCCESS;
    }
    default:
        break;
    }
    return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
}

/* ---- Controllers and hubs ----------------------------------------------------------------- */

static NTSTATUS StatusOf(int result) {
    switch (result) {
    case VusbOk:
        return STATUS_SUCCESS;
    case VusbRefused:
        return STATUS_UNSUCCESSFUL;
    case VusbNoFunction:
        return STATUS_INVALID_DEVICE_REQUEST;
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

static NTSTATUS HardwareRequest(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    Extension* e = device->DeviceExtension;
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    uint32_t returned = 0;
    int result;
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return Complete(irp, STATUS_SUCCESS, 0);
    if ((code & 3) != METHOD_BUFFERED) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    ExAcquireFastMutex(&bus.lock);
    if (!bus.scene)
        result = VusbNotThere;
    else if (e->kind == KindController)
        result = VusbControllerRequest(bus.scene, e->index, code, inSize ? buffer : NULL, inSize,
                                       outSize ? buffer : NULL, outSize, &returned, NULL, NULL);
    else
        result = VusbHubRequest(bus.scene, (const uint8_t*)(bus.scene + 1), e->index, code,
                                inSize ? buffer : NULL, inSize, outSize ? buffer : NULL, outSize,
                                &returned, NULL, NULL);
    ExReleaseFastMutex(&bus.lock);
    /* A reply that claims more than the caller's block is trimmed: the I/O manager copies what
     * the driver reports. */
    if (returned > outSize) returned = outSize;
    return Complete(irp, StatusOf(result), result == VusbOk ? returned : 0);
}

/* ---- The control device ------------------------------------------------------------------- */

static NTSTATUS ControlRequest(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return Complete(irp, STATUS_SUCCESS, 0);
    ExAcquireFastMutex(&bus.lock);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_VUSB_PLUG_BUS:
        status = PlugBus(buffer, inSize);
        break;
    case IOCTL_VUSB_UNPLUG_BUS:
        UnplugBus();
        break;
    case IOCTL_VUSB_PLUG_CAMERA:
        if (inSize != sizeof(uint32_t)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        if (!bus.scene || !bus.scene->cameraHub) {
            status = STATUS_NO_SUCH_DEVICE;
            break;
        }
        PlugCamera(*(const uint32_t*)buffer != 0);
        break;
    case IOCTL_VUSB_STATUS: {
        VusbBusStatus* s = buffer;
        const CameraExtension* camera = bus.camera ? bus.camera->DeviceExtension : NULL;
        if (outSize < sizeof *s) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        RtlZeroMemory(s, sizeof *s);
        s->busPlugged = bus.scene != NULL;
        s->cameraPlugged = camera != NULL;
        s->cameraEnumerated = camera && (camera->enumerated || camera->started);
        s->cameraStarted = camera && camera->started;
        s->departedAlive = bus.departedAlive;
        s->plugCount = bus.plugCount;
        information = sizeof *s;
        break;
    }
    case IOCTL_VUSB_CAMERA_VALUE: {
        VusbCameraReading reading = {0, 0};
        uint16_t value = 0;
        if (inSize != sizeof(uint16_t) || outSize < sizeof reading) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        reading.known = VusbCameraValue(&bus.values, *(const uint16_t*)buffer, &value) != 0;
        reading.value = value;
        RtlCopyMemory(buffer, &reading, sizeof reading);
        information = sizeof reading;
        break;
    }
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    ExReleaseFastMutex(&bus.lock);
    return Complete(irp, status, information);
}

/* ---- The bus itself ----------------------------------------------------------------------- */

static NTSTATUS BusPnp(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_QUERY_DEVICE_RELATIONS: {
        DEVICE_RELATIONS* relations;
        if (stack->Parameters.QueryDeviceRelations.Type != BusRelations) break;
        relations = ExAllocatePoolWithTag(PagedPool, sizeof *relations, POOL_TAG);
        if (!relations) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        ExAcquireFastMutex(&bus.lock);
        relations->Count = 0;
        if (bus.camera) {
            relations->Objects[relations->Count++] = bus.camera;
            ObReferenceObject(bus.camera);
        }
        ExReleaseFastMutex(&bus.lock);
        irp->IoStatus.Information = (ULONG_PTR)relations;
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    }
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        DEVICE_OBJECT *lower = bus.lower, *fdo = bus.fdo, *control, *camera;
        NTSTATUS status;
        ExAcquireFastMutex(&bus.lock);
        /* The platform has removed the camera's stack already, children first; nothing may be
         * reported on a bus that is going. */
        camera = bus.camera;
        bus.camera = NULL;
        bus.pdo = NULL;
        UnplugBus();
        control = bus.control;
        bus.control = NULL;
        bus.fdo = bus.lower = NULL;
        ExReleaseFastMutex(&bus.lock);
        if (camera) IoDeleteDevice(camera);
        if (control) DeleteNamed(control, L"\\DosDevices\\" VUSB_CONTROL_NAME);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(fdo);
        return status;
    }
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(bus.lower, irp);
}

static NTSTATUS WINAPI Dispatch(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const int kind = *(const int*)device->DeviceExtension;
    if (stack->MajorFunction == IRP_MJ_POWER) {
        PoStartNextPowerIrp(irp);
        if (kind == KindBus) {
            IoSkipCurrentIrpStackLocation(irp);
            return PoCallDriver(bus.lower, irp);
        }
        return Complete(
            irp, stack->MinorFunction == IRP_MN_SET_POWER ? STATUS_SUCCESS : irp->IoStatus.Status,
            irp->IoStatus.Information);
    }
    switch (kind) {
    case KindBus:
        if (stack->MajorFunction == IRP_MJ_PNP) return BusPnp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(bus.lower, irp);
    case KindCamera:
        if (stack->MajorFunction == IRP_MJ_PNP) return CameraPnp(device, irp);
        if (stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL) return CameraUrb(device, irp);
        return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    case KindControl:
        return ControlRequest(irp);
    case KindController:
    case KindHub:
        return HardwareRequest(device, irp);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS WINAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    DEVICE_OBJECT *fdo, *control;
    NTSTATUS status;
    if (bus.fdo) return STATUS_DEVICE_ALREADY_ATTACHED; /* one virtual bus per machine */
    status =
        IoCreateDevice(driver, sizeof(Extension), NULL, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status)) return status;
    ((Extension*)fdo->DeviceExtension)->kind = KindBus;
    status =
        CreateNamed(driver, L"\\Device\\" VUSB_CONTROL_NAME, L"\\DosDevices\\" VUSB_CONTROL_NAME,
                    sizeof(Extension), FILE_DEVICE_UNKNOWN, &control);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(fdo);
        return status;
    }
    ((Extension*)control->DeviceExtension)->kind = KindControl;
    bus.lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    if (!bus.lower) {
        DeleteNamed(control, L"\\DosDevices\\" VUSB_CONTROL_NAME);
        IoDeleteDevice(fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    bus.fdo = fdo;
    bus.pdo = pdo;
    bus.control = control;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void WINAPI Unload(DRIVER_OBJECT* driver) {
    (void)driver;
    if (bus.scene) ExFreePoolWithTag(bus.scene, POOL_TAG);
    bus.scene = NULL;
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    int i;
    (void)registryPath;
    ExInitializeFastMutex(&bus.lock);
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

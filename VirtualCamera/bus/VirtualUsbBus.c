/* The virtual USB hardware in the kernel: a root-enumerated bus driver that plays the host
 * controllers (\\.\HCDn), their hubs (\\.\<hub name>) and the camera, whose function it reports
 * to the platform as a child device. What each request gets is the shared hardware model's
 * answer (hardware/UsbHardware.h); this file is the plumbing around it, the camera's own device
 * is VirtualUsbCamera.c. Tests and the demo only: the product never installs it. */
#include <ntddk.h>
#include <usb.h>
#include <usbioctl.h>

#include "VirtualCamera/bus/BusDriver.h"

Bus bus;

/* ---- Names ------------------------------------------------------------------------------- */

void Append(Text* t, const WCHAR* s) {
    while (*s && t->used + 1 < t->room) t->at[t->used++] = *s++;
    t->at[t->used] = 0;
}

void AppendAnsi(Text* t, const char* s) {
    while (*s && t->used + 1 < t->room) t->at[t->used++] = (WCHAR)(UCHAR)*s++;
    t->at[t->used] = 0;
}

void AppendHex(Text* t, ULONG value, int digits, BOOLEAN upper) {
    const WCHAR* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    while (digits-- > 0 && t->used + 1 < t->room)
        t->at[t->used++] = set[(value >> (4 * digits)) & 15];
    t->at[t->used] = 0;
}

void AppendDecimal(Text* t, ULONG value) {
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
    bus.scene = ExAllocatePoolWithTag(NonPagedPoolNx, size, POOL_TAG);
    if (!bus.scene) return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(bus.scene, bytes, size);
    bus.sceneBytes = size;
    if (!VusbSceneIsSound(bus.scene, (uint32_t)(size - sizeof(VusbScene)))) {
        ExFreePoolWithTag(bus.scene, POOL_TAG);
        bus.scene = NULL;
        return STATUS_INVALID_PARAMETER;
    }
    bus.values = bus.scene->powerOn;
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

/* While the camera is out its port reads as empty; back in, it has powered on again and holds
 * its power-on values. Called with the lock held. */
static void PlugCamera(BOOLEAN in) {
    VusbPort* port;
    uint32_t i;
    if (!bus.scene || !bus.scene->cameraHub || bus.cameraPlugged == in) return;
    for (i = 0; i < bus.scene->portCount; ++i) {
        port = &bus.scene->ports[i];
        if (port->hub == bus.scene->cameraHub && port->number == bus.scene->cameraPort)
            port->kind = in ? VusbDevicePort : VusbEmpty;
    }
    if (in) bus.values = bus.scene->powerOn;
    bus.cameraPlugged = in;
    ReportCamera(in);
}

static void WINAPI PullLater(DEVICE_OBJECT* device, void* context) {
    LARGE_INTEGER delay;
    (void)device;
    (void)context;
    delay.QuadPart = -10000LL * bus.pullDelayMs;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
    ExAcquireFastMutex(&bus.lock);
    PlugCamera(FALSE);
    ExReleaseFastMutex(&bus.lock);
    InterlockedExchange(&bus.pullPending, 0);
    KeSetEvent(&bus.pullIdle, IO_NO_INCREMENT, FALSE);
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
    /* Requests to the camera's stack go without the lock: its drivers reach the camera. */
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_VUSB_SYSTEM_POWER: {
        const uint32_t state = inSize == sizeof(uint32_t) ? *(const uint32_t*)buffer : 0;
        if (state != VUSB_SYSTEM_WORKING && state != VUSB_SYSTEM_SLEEP &&
            state != VUSB_SYSTEM_HIBERNATE)
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        return Complete(irp, SendSystemPower(state), 0);
    }
    case IOCTL_VUSB_CAMERA_IDLE:
        if (inSize != sizeof(uint32_t)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        return Complete(irp, SendIdleRequest(*(const uint32_t*)buffer != 0), 0);
    default:
        break;
    }
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
    case IOCTL_VUSB_CAMERA_OUT_LATER:
        if (inSize != sizeof(uint32_t) || *(const uint32_t*)buffer > 10000) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        if (!bus.cameraPlugged || InterlockedCompareExchange(&bus.pullPending, 1, 0) != 0) {
            status = STATUS_DEVICE_BUSY;
            break;
        }
        KeClearEvent(&bus.pullIdle);
        bus.pullDelayMs = *(const uint32_t*)buffer;
        IoQueueWorkItem(bus.pullItem, PullLater, DelayedWorkQueue, NULL);
        break;
    case IOCTL_VUSB_CAMERA_HOLD:
        if (inSize != sizeof(uint32_t)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        bus.holdRequests = *(const uint32_t*)buffer != 0;
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
        s->heldRequests = HeldRequests();
        s->cameraPower = camera ? (uint32_t)camera->power : 0;
        s->requestsBelowD0 = bus.requestsBelowD0;
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
        LARGE_INTEGER pullBound;
        NTSTATUS status;
        /* A pull still pending would run on a bus that is gone. */
        pullBound.QuadPart = -10000LL * 11000;
        KeWaitForSingleObject(&bus.pullIdle, Executive, KernelMode, FALSE, &pullBound);
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
        IoFreeWorkItem(bus.pullItem);
        bus.pullItem = NULL;
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
        if (kind == KindCamera) return CameraPower(device, irp);
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
    bus.pullItem = IoAllocateWorkItem(fdo);
    bus.lower = bus.pullItem ? IoAttachDeviceToDeviceStack(fdo, pdo) : NULL;
    if (!bus.lower) {
        if (bus.pullItem) IoFreeWorkItem(bus.pullItem);
        bus.pullItem = NULL;
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
    KeInitializeEvent(&bus.pullIdle, NotificationEvent, TRUE);
    InitializeCamera();
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

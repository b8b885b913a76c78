// Built twice: into the user-mode model and into the kernel bus driver, with no C++ runtime
// (no exceptions, no statics with constructors, nothing but memcpy, memmove and memset).
#include "VirtualCamera/hardware/UsbHardware.h"

#include <cstddef>
#include <cstring>

#include "DLL/camera/UsbLayouts.h"

// The scene crosses from a tool to the driver, possibly of another pointer width.
static_assert(sizeof(VusbControllerFaults) == 8, "controller faults");
static_assert(sizeof(VusbHubFaults) == 4, "hub faults");
static_assert(sizeof(VusbPortFaults) == 24, "port faults");
static_assert(sizeof(VusbController) == 12, "controller");
static_assert(sizeof(VusbHub) == VusbNameBytes + 8, "hub");
static_assert(offsetof(VusbPort, faults) == 20 && sizeof(VusbPort) == 44, "port");
static_assert(sizeof(VusbCameraState) == 2 * 2 * VusbCameraSelectors + 4, "camera state");
static_assert(offsetof(VusbScene, powerOn) == 10 * 12 + VusbMaxHubs * 168 + VusbMaxPorts * 44 + 12,
              "power-on values");
static_assert(sizeof(VusbScene) == offsetof(VusbScene, powerOn) + sizeof(VusbCameraState), "scene");

namespace {

bool Hooked(VusbFaultHook hook, void* context, int kind) { return hook && hook(context, kind); }

// ActualLength at lengthOffset, then as much of the terminated UTF-16 name as fits.
uint32_t PutName(const char* name, int32_t actualOverride, uint32_t lengthOffset, uint8_t* out,
                 uint32_t outSize) {
    uint32_t chars = 0;
    while (chars < VusbNameBytes && name[chars]) ++chars;
    const uint32_t nameBytes = (chars + 1) * 2;
    const uint32_t actual = lengthOffset + 4 + nameBytes;
    WriteLe32(out + lengthOffset,
              actualOverride >= 0 ? static_cast<uint32_t>(actualOverride) : actual);
    uint32_t room = outSize - (lengthOffset + 4);
    uint32_t copy = room < nameBytes ? room : nameBytes;
    uint8_t* at = out + lengthOffset + 4;
    for (uint32_t i = 0; i < copy; ++i)
        at[i] = (i & 1) || i / 2 >= chars ? 0 : static_cast<uint8_t>(name[i / 2]);
    return lengthOffset + 4 + copy;
}

const VusbHub* Hub(const VusbScene* scene, int hub) {
    return hub > 0 && hub < VusbMaxHubs && scene->hubs[hub].used ? &scene->hubs[hub] : nullptr;
}

bool PortInRange(const VusbScene* scene, int hub, uint32_t port) {
    const VusbHub* h = Hub(scene, hub);
    return h && port >= 1 && port <= h->ports;
}

void FillConnection(const VusbPort* p, uint8_t* out, uint32_t outSize) {
    memset(out + 4, 0, outSize - 4);
    uint8_t* descriptor = out + offsetof(ConnectionInfoBlock, DeviceDescriptor);
    const int kind = p ? static_cast<int>(p->kind) : static_cast<int>(VusbEmpty);
    if (kind != VusbEmpty) {
        descriptor[0] = 18;
        descriptor[1] = 1;
        WriteLe16(descriptor + 2, 0x0200);
        descriptor[7] = 64;
        descriptor[17] = 1;
    }
    if (kind == VusbDevicePort) {
        descriptor[4] = 0xEF;  // miscellaneous: composite with interface associations
        descriptor[5] = 2;
        descriptor[6] = 1;
        WriteLe16(descriptor + 8, p->vendorId);
        WriteLe16(descriptor + 10, p->productId);
        WriteLe16(descriptor + 12, 0x0100);
        WriteLe32(out + offsetof(ConnectionInfoBlock, ConnectionStatus), p->connectionStatus);
    } else if (kind == VusbHubPort) {
        descriptor[4] = 9;  // hub class
        WriteLe16(descriptor + 8, 0x05E3);
        WriteLe16(descriptor + 10, 0x0610);
        out[offsetof(ConnectionInfoBlock, DeviceIsHub)] = 1;
        WriteLe32(out + offsetof(ConnectionInfoBlock, ConnectionStatus), 1);
    }
    out[offsetof(ConnectionInfoBlock, Speed)] = 2;
}

const VusbPortFaults NoFaults = {};

}  // namespace

extern "C" {

const VusbPort* VusbFindPort(const VusbScene* scene, int hub, int number) {
    for (uint32_t i = 0; i < scene->portCount && i < VusbMaxPorts; ++i) {
        const VusbPort& p = scene->ports[i];
        if (p.hub == hub && p.number == number) return &p;
    }
    return nullptr;
}

int VusbSceneIsSound(const VusbScene* scene, uint32_t poolBytes) {
    if (scene->portCount > VusbMaxPorts || scene->powerOn.count > VusbCameraSelectors ||
        scene->poolBytes != poolBytes || poolBytes > VusbMaxPoolBytes)
        return 0;
    for (const VusbController& c : scene->controllers)
        if (c.present && !Hub(scene, c.rootHub)) return 0;
    for (const VusbHub& h : scene->hubs)
        if (h.used && (memchr(h.name, 0, VusbNameBytes) == nullptr || !h.name[0])) return 0;
    for (uint32_t i = 0; i < scene->portCount; ++i) {
        const VusbPort& p = scene->ports[i];
        if (!PortInRange(scene, p.hub, p.number) || p.kind > VusbDevicePort ||
            p.configOffset > poolBytes || p.configLength > poolBytes - p.configOffset)
            return 0;
    }
    if (scene->cameraHub) {
        const VusbPort* camera = VusbFindPort(scene, scene->cameraHub, scene->cameraPort);
        if (!camera || camera->kind != VusbDevicePort) return 0;
    }
    return 1;
}

int VusbControllerRequest(const VusbScene* scene, int number, uint32_t code, const void* in,
                          uint32_t inSize, void* outVoid, uint32_t outSize, uint32_t* returned,
                          VusbFaultHook hook, void* context) {
    uint8_t* out = static_cast<uint8_t*>(outVoid);
    *returned = 0;
    if (number < 0 || number >= VusbControllerCount || !scene->controllers[number].present)
        return VusbNotThere;
    if (code != IoctlUsbGetRootHubName) return VusbNoFunction;
    if (inSize != 0 || !out || outSize < RootHubNameHeadSize) return VusbBadRequest;
    (void)in;
    const VusbController& controller = scene->controllers[number];
    const bool first = outSize == RootHubNameHeadSize;
    if (Hooked(hook, context, first ? VusbRootHubNameSize : VusbRootHubName) ||
        (first ? controller.faults.rootNameSize : controller.faults.rootName))
        return VusbRefused;
    const VusbHub* root = Hub(scene, controller.rootHub);
    if (!root) return VusbRefused;
    *returned = PutName(root->name, controller.faults.rootNameActualLength, 0, out, outSize);
    return VusbOk;
}

int VusbHubRequest(const VusbScene* scene, const uint8_t* pool, int hub, uint32_t code,
                   const void* inVoid, uint32_t inSize, void* outVoid, uint32_t outSize,
                   uint32_t* returned, VusbFaultHook hook, void* context) {
    const uint8_t* in = static_cast<const uint8_t*>(inVoid);
    uint8_t* out = static_cast<uint8_t*>(outVoid);
    *returned = 0;
    const VusbHub* h = Hub(scene, hub);
    if (!h) return VusbNotThere;
    switch (code) {
    case IoctlUsbGetNodeInformation: {
        if (!out || outSize < sizeof(NodeInformationBlock)) return VusbBadRequest;
        if (Hooked(hook, context, VusbNodeInformation) || h->faults.nodeInformation)
            return VusbRefused;
        memset(out, 0, sizeof(NodeInformationBlock));
        out[4] = 9;
        out[5] = 0x29;
        out[6] = h->ports;
        *returned = sizeof(NodeInformationBlock);
        return VusbOk;
    }
    case IoctlUsbGetNodeConnectionInformationEx:
    case IoctlUsbGetNodeConnectionInformation: {
        if (!in || !out || inSize < 35 || outSize < 35) return VusbBadRequest;
        const uint32_t port = ReadLe32(in);
        if (!PortInRange(scene, hub, port)) return VusbBadRequest;
        const VusbPort* p = VusbFindPort(scene, hub, static_cast<int>(port));
        const VusbPortFaults& f = p ? p->faults : NoFaults;
        const bool ex = code == IoctlUsbGetNodeConnectionInformationEx;
        if (Hooked(hook, context, ex ? VusbConnectionEx : VusbConnection) ||
            (ex ? h->faults.connectionEx || f.connectionEx : h->faults.connection || f.connection))
            return VusbRefused;
        WriteLe32(out, port);
        FillConnection(p, out, outSize);
        *returned = 35;
        return VusbOk;
    }
    case IoctlUsbGetNodeConnectionName: {
        if (!in || !out || inSize < NodeConnectionNameHeadSize ||
            outSize < NodeConnectionNameHeadSize)
            return VusbBadRequest;
        const uint32_t port = ReadLe32(in);
        if (!PortInRange(scene, hub, port)) return VusbBadRequest;
        const VusbPort* p = VusbFindPort(scene, hub, static_cast<int>(port));
        const VusbPortFaults& f = p ? p->faults : NoFaults;
        const bool first = outSize == NodeConnectionNameHeadSize;
        if (Hooked(hook, context, first ? VusbHubNameSize : VusbHubName) ||
            (first ? f.nameSize : f.name))
            return VusbRefused;
        const VusbHub* target = p && p->kind == VusbHubPort ? Hub(scene, p->target) : nullptr;
        if (!target) return VusbNotThere;
        WriteLe32(out, port);
        *returned = PutName(target->name, f.nameActualLength, 4, out, outSize);
        return VusbOk;
    }
    case IoctlUsbGetDescriptorFromNodeConnection: {
        if (!in || !out || inSize < sizeof(DescriptorRequestHead) ||
            outSize < sizeof(DescriptorRequestHead))
            return VusbBadRequest;
        DescriptorRequestHead head;
        memcpy(&head, in, sizeof head);
        if (!PortInRange(scene, hub, head.ConnectionIndex) ||
            head.wValue != (ConfigurationDescriptorType << 8) || head.wIndex != 0 ||
            head.bmRequest != 0 || head.bRequest != 0 ||
            head.wLength + sizeof(DescriptorRequestHead) > outSize)
            return VusbBadRequest;
        const VusbPort* p = VusbFindPort(scene, hub, static_cast<int>(head.ConnectionIndex));
        const VusbPortFaults& f = p ? p->faults : NoFaults;
        const bool first = outSize == sizeof(DescriptorBlock) && head.wLength == 9;
        if (Hooked(hook, context, first ? VusbDescriptorHead : VusbDescriptorBody) ||
            (first ? f.descriptorHead : f.descriptorBody))
            return VusbRefused;
        if (!p || p->kind != VusbDevicePort || p->configLength == 0) return VusbRefused;
        const uint8_t* set = pool + p->configOffset;
        const uint32_t copy = head.wLength < p->configLength ? head.wLength : p->configLength;
        memmove(out, &head, sizeof head);
        memcpy(out + sizeof head, set, copy);
        if (!first && copy >= 4) {
            const uint16_t total =
                static_cast<uint16_t>(ReadLe16(set + 2) + f.bodyTotalLengthDelta);
            WriteLe16(out + sizeof head + 2, total);
        }
        const int32_t delta = first ? f.descriptorHeadBytesDelta : f.descriptorBodyBytesDelta;
        *returned = static_cast<uint32_t>(sizeof head + copy + delta);
        return VusbOk;
    }
    default:
        return VusbBadRequest;
    }
}

int VusbCameraSetValue(VusbCameraState* state, uint16_t selector, uint16_t value) {
    uint32_t slot = 0;
    while (slot < state->count && slot < VusbCameraSelectors && state->selector[slot] != selector)
        ++slot;
    if (slot >= VusbCameraSelectors) return 0;
    if (slot == state->count) state->selector[state->count++] = selector;
    state->value[slot] = value;
    return 1;
}

void VusbCameraPowerOnDefaults(VusbCameraState* state) {
    // Selector and value: white balance red, green, blue and auto; exposure and auto; gain and
    // auto; power line (50 Hz); flip, mirror, privacy, low light.
    static const uint16_t values[][2] = {
        {0x26, 128}, {0x27, 128}, {0x28, 128}, {0x29, 1}, {0x2A, 156}, {0x2B, 1}, {0x2C, 32},
        {0x2D, 1},   {0x2E, 1},   {0x30, 0},   {0x31, 0}, {0x32, 0},   {0x33, 0}};
    memset(state, 0, sizeof *state);
    for (const auto& v : values) VusbCameraSetValue(state, v[0], v[1]);
}

int VusbCameraControl(VusbCameraState* state, uint8_t requestType, uint8_t request, uint16_t value,
                      uint16_t index, uint16_t length, uint8_t* data, uint32_t* transferred) {
    (void)request;  // the request code is the caller's; every vendor request reaches a selector
    *transferred = 0;
    const bool deviceIn = requestType & 0x80;
    if ((requestType & 0x7F) != 0x40 || (length && !data)) return VusbRefused;
    uint32_t slot = 0;
    while (slot < state->count && slot < VusbCameraSelectors && state->selector[slot] != index)
        ++slot;
    if (deviceIn) {
        const uint16_t stored = slot < state->count ? state->value[slot] : 0;
        for (uint32_t i = 0; i < length; ++i)
            data[i] = i < 2 ? static_cast<uint8_t>(stored >> (8 * i)) : 0;
    } else if (!VusbCameraSetValue(state, index,
                                   length >= 2   ? ReadLe16(data)
                                   : length == 1 ? data[0]
                                                 : value)) {
        return VusbRefused;
    }
    *transferred = length;
    return VusbOk;
}

int VusbCameraConfiguration(const VusbScene* scene, const uint8_t* pool, uint8_t* out,
                            uint32_t length, uint32_t* returned) {
    *returned = 0;
    const VusbPort* camera =
        scene->cameraHub ? VusbFindPort(scene, scene->cameraHub, scene->cameraPort) : nullptr;
    if (!camera || camera->kind != VusbDevicePort || camera->configLength == 0 || (length && !out))
        return 0;
    const uint32_t copy = length < camera->configLength ? length : camera->configLength;
    memcpy(out, pool + camera->configOffset, copy);
    *returned = copy;
    return 1;
}

int VusbCameraValue(const VusbCameraState* state, uint16_t selector, uint16_t* value) {
    for (uint32_t i = 0; i < state->count && i < VusbCameraSelectors; ++i) {
        if (state->selector[i] == selector) {
            *value = state->value[i];
            return 1;
        }
    }
    return 0;
}

}  // extern "C"

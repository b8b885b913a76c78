// Host controllers and hubs: the scene's USB tree, answered through the shared hardware model.
#include <windows.h>

#include <cstdint>

#include "DLL/camera/DeviceLayer.h"
#include "VirtualCamera/Machine.h"

namespace vcam {
using namespace detail;

namespace {

// The shared model asks before its own faults apply.
int HardwareHook(void* context, int kind) {
    static const Request requests[] = {
        Request::RootHubNameSize, Request::RootHubName,    Request::NodeInformation,
        Request::ConnectionEx,    Request::Connection,     Request::HubNameSize,
        Request::HubName,         Request::DescriptorHead, Request::DescriptorBody};
    if (kind < 0 || kind >= static_cast<int>(sizeof requests / sizeof requests[0])) return 0;
    return Hit(*static_cast<Machine*>(context), requests[kind]);
}

BOOL Answer(Machine& m, int status, std::uint32_t bytes, DWORD* returned) {
    switch (status) {
    case VusbOk:
        if (returned) *returned = bytes;
        return TRUE;
    case VusbRefused:
        return Fail(ERROR_GEN_FAILURE, returned);
    case VusbNotThere:
        return Fail(ERROR_INVALID_PARAMETER, returned);
    default:
        ++m.protocolErrors;
        return Fail(ERROR_INVALID_PARAMETER, returned);
    }
}

}  // namespace

// ---- Machine ---------------------------------------------------------------------------------

HubId AddHostController(int number, int ports, const std::string& rootHubName) {
    return Locked([&](Machine& m) { return m.scene.AddController(number, ports, rootHubName); });
}

HubId AttachHub(HubId parent, int port, int ports, const std::string& name) {
    return Locked([&](Machine& m) { return m.scene.AttachHub(parent, port, ports, name); });
}

void AttachHubLink(HubId parent, int port, HubId target) {
    Locked([&](Machine& m) { m.scene.AttachHubLink(parent, port, target); });
}

std::string HubName(HubId hub) {
    return Locked([&](Machine& m) { return m.scene.HubName(hub); });
}

void AttachDevice(HubId parent, int port, const UsbDevice& device) {
    Locked([&](Machine& m) { m.scene.AttachDevice(parent, port, device); });
}

// ---- Faults ----------------------------------------------------------------------------------

void SetControllerFaults(int number, const ControllerFaults& faults) {
    Locked([&](Machine& m) { m.scene.SetControllerFaults(number, faults); });
}

void SetHubFaults(HubId hub, const HubFaults& faults) {
    Locked([&](Machine& m) { m.scene.SetHubFaults(hub, faults); });
}

void SetPortFaults(HubId hub, int port, const PortFaults& faults) {
    Locked([&](Machine& m) { m.scene.SetPortFaults(hub, port, faults); });
}

// ---- The device layer's controllers and hubs ---------------------------------------------------

namespace detail {

HANDLE OpenUsbNode(Machine& m, const std::string& name, DWORD access) {
    if (name.size() == 8 && _strnicmp(name.c_str(), "\\\\.\\HCD", 7) == 0 && name[7] >= '0' &&
        name[7] <= '9') {
        int number = name[7] - '0';
        const VusbController& controller = m.scene.Hardware().controllers[number];
        if (Hit(m, Request::ControllerOpen) || !controller.present || controller.faults.open) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (!(access & GENERIC_WRITE)) ++m.protocolErrors;
        return NewHandle(m, HandleInfo::ControllerHandle, number);
    }
    std::string hubName = name.substr(4);
    for (HubId id = 1; id < VusbMaxHubs; ++id) {
        const VusbHub& hub = m.scene.Hardware().hubs[id];
        if (!hub.used || !EqualNoCase(hub.name, hubName)) continue;
        if (Hit(m, Request::HubOpen) || hub.faults.open) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (!(access & GENERIC_WRITE)) ++m.protocolErrors;
        return NewHandle(m, HandleInfo::HubHandle, id);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL UsbNodeRequest(Machine& m, const HandleInfo& node, DWORD code, void* in, DWORD inSize,
                    void* out, DWORD outSize, DWORD* returned) {
    std::uint32_t bytes = 0;
    int status;
    if (node.kind == HandleInfo::ControllerHandle) {
        status = VusbControllerRequest(&m.scene.Hardware(), node.id, code, in, inSize, out, outSize,
                                       &bytes, HardwareHook, &m);
        return Answer(m, status, bytes, returned);
    }
    if (!m.scene.HubExists(node.id)) return Fail(ERROR_DEVICE_REMOVED, returned);
    status = VusbHubRequest(&m.scene.Hardware(), m.scene.Pool().data(), node.id, code, in, inSize,
                            out, outSize, &bytes, HardwareHook, &m);
    return Answer(m, status, bytes, returned);
}

}  // namespace detail
}  // namespace vcam

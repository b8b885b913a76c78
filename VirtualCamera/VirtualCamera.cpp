#include "VirtualCamera/VirtualCamera.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "Common/LittleEndian.h"
#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/camera/DevicePath.h"
#include "DLL/camera/UsbLayouts.h"

namespace vcam {
namespace {

struct Port {
    enum Kind { Empty, HubPort, DevicePort } kind = Empty;
    HubId hub = 0;
    UsbDevice device;
    PortFaults faults;
};

struct Hub {
    std::string name;
    std::vector<Port> ports;  // index 0 is port 1
    HubFaults faults;
};

struct Controller {
    bool present = false;
    HubId root = 0;
    ControllerFaults faults;
};

struct HandleInfo {
    enum Kind { ControllerHandle, HubHandle, InterfaceHandle, ListHandle } kind;
    int id;  // controller number, hub id or interface index
};

struct BlockRecord {
    void* base;  // what VirtualAlloc or GlobalAlloc returned
    SIZE_T size;
    bool guarded;
};

struct Machine {
    std::mutex lock;
    Controller controllers[10];
    std::map<HubId, Hub> hubs;
    HubId nextHub = 1;

    std::map<ULONG_PTR, HandleInfo> handles;
    ULONG_PTR nextHandle = 0x5000;
    std::map<const void*, BlockRecord> blocks;
    bool guarded = true;
    int badReleases = 0;
    int protocolErrors = 0;

    int counts[static_cast<int>(Request::Count)] = {};
    int failAt[static_cast<int>(Request::Count)] = {};
    int allocations = 0;
    int allocFailAt = 0;

    std::vector<CaptureInterface> interfaces;
    bool classDevsFails = false;

    std::vector<XuRecord> xuLog;
    bool xuSucceed = true;
    long xuBytes = -1;
    std::map<unsigned short, unsigned short> xuValues;
    unsigned holdMicroseconds = 0;
    int inFlight = 0;
    int overlaps = 0;
};

// Constructed on first use, so the demo library's global constructor may call in at any time.
Machine& M() {
    static Machine* machine = new Machine;
    return *machine;
}

// Runs f on the machine under its lock.
template <typename F>
auto Locked(F f) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    return f(m);
}

bool Hit(Machine& m, Request request) {
    int i = static_cast<int>(request);
    ++m.counts[i];
    return m.failAt[i] != 0 && m.counts[i] == m.failAt[i];
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

HANDLE NewHandle(Machine& m, HandleInfo::Kind kind, int id) {
    ULONG_PTR value = m.nextHandle;
    m.nextHandle += 4;
    m.handles[value] = HandleInfo{kind, id};
    return reinterpret_cast<HANDLE>(value);
}

HandleInfo* FindHandle(Machine& m, HANDLE handle, HandleInfo::Kind kind) {
    auto it = m.handles.find(reinterpret_cast<ULONG_PTR>(handle));
    if (it == m.handles.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

Port* FindPort(Machine& m, HubId hub, ULONG port) {
    auto it = m.hubs.find(hub);
    if (it == m.hubs.end() || port < 1 || port > it->second.ports.size()) return nullptr;
    return &it->second.ports[port - 1];
}

BOOL Fail(DWORD error, DWORD* returned) {
    if (returned) *returned = 0;
    SetLastError(error);
    return FALSE;
}

// Writes a name reply: ActualLength at lengthOffset, then as much of the terminated UTF-16 name
// as fits. Returns the bytes written.
DWORD PutName(const std::string& name, long actualOverride, DWORD lengthOffset, BYTE* out,
              DWORD outSize) {
    std::wstring wide = Widen(name);
    DWORD nameBytes = static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR));
    DWORD actual = lengthOffset + 4 + nameBytes;
    WriteLe32(out + lengthOffset,
              actualOverride >= 0 ? static_cast<ULONG>(actualOverride) : actual);
    DWORD room = outSize - (lengthOffset + 4);
    DWORD copy = std::min(room, nameBytes);
    std::memcpy(out + lengthOffset + 4, wide.c_str(), copy);
    return lengthOffset + 4 + copy;
}

BOOL RootHubRequest(Machine& m, int number, DWORD code, void* in, DWORD inSize, BYTE* out,
                    DWORD outSize, DWORD* returned) {
    if (code != IoctlUsbGetRootHubName || inSize != 0 || !out || outSize < RootHubNameHeadSize) {
        ++m.protocolErrors;
        return Fail(ERROR_INVALID_PARAMETER, returned);
    }
    Controller& controller = m.controllers[number];
    bool first = outSize == RootHubNameHeadSize;
    if (Hit(m, first ? Request::RootHubNameSize : Request::RootHubName) ||
        (first ? controller.faults.rootNameSize : controller.faults.rootName))
        return Fail(ERROR_GEN_FAILURE, returned);
    DWORD written = PutName(m.hubs[controller.root].name, controller.faults.rootNameActualLength, 0,
                            out, outSize);
    if (returned) *returned = written;
    return TRUE;
}

void FillConnection(const Hub& hub, ULONG port, BYTE* out, DWORD outSize) {
    std::memset(out + 4, 0, outSize - 4);
    const Port& p = hub.ports[port - 1];
    BYTE* descriptor = out + offsetof(ConnectionInfoBlock, DeviceDescriptor);
    if (p.kind != Port::Empty) {
        descriptor[0] = 18;
        descriptor[1] = 1;
        WriteLe16(descriptor + 2, 0x0200);
        descriptor[7] = 64;
        descriptor[17] = 1;
    }
    if (p.kind == Port::DevicePort) {
        descriptor[4] = 0xEF;  // miscellaneous: composite with interface associations
        descriptor[5] = 2;
        descriptor[6] = 1;
        WriteLe16(descriptor + 8, p.device.vendorId);
        WriteLe16(descriptor + 10, p.device.productId);
        WriteLe16(descriptor + 12, 0x0100);
        WriteLe32(out + offsetof(ConnectionInfoBlock, ConnectionStatus), p.device.connectionStatus);
    } else if (p.kind == Port::HubPort) {
        descriptor[4] = 9;  // hub class
        WriteLe16(descriptor + 8, 0x05E3);
        WriteLe16(descriptor + 10, 0x0610);
        out[offsetof(ConnectionInfoBlock, DeviceIsHub)] = 1;
        WriteLe32(out + offsetof(ConnectionInfoBlock, ConnectionStatus), 1);
    }
    out[offsetof(ConnectionInfoBlock, Speed)] = 2;
}

BOOL HubRequest(Machine& m, HubId id, DWORD code, void* inVoid, DWORD inSize, BYTE* out,
                DWORD outSize, DWORD* returned) {
    const BYTE* in = static_cast<const BYTE*>(inVoid);
    Hub& hub = m.hubs[id];
    switch (code) {
    case IoctlUsbGetNodeInformation: {
        if (!out || outSize < sizeof(NodeInformationBlock)) break;
        if (Hit(m, Request::NodeInformation) || hub.faults.nodeInformation)
            return Fail(ERROR_GEN_FAILURE, returned);
        std::memset(out, 0, sizeof(NodeInformationBlock));
        out[4] = 9;
        out[5] = 0x29;
        out[6] = static_cast<BYTE>(hub.ports.size());
        if (returned) *returned = sizeof(NodeInformationBlock);
        return TRUE;
    }
    case IoctlUsbGetNodeConnectionInformationEx:
    case IoctlUsbGetNodeConnectionInformation: {
        if (!in || !out || inSize < 35 || outSize < 35) break;
        ULONG port = ReadLe32(in);
        Port* p = FindPort(m, id, port);
        if (!p) break;
        bool ex = code == IoctlUsbGetNodeConnectionInformationEx;
        if (Hit(m, ex ? Request::ConnectionEx : Request::Connection) ||
            (ex ? hub.faults.connectionEx || p->faults.connectionEx
                : hub.faults.connection || p->faults.connection))
            return Fail(ERROR_GEN_FAILURE, returned);
        WriteLe32(out, port);
        FillConnection(hub, port, out, outSize);
        if (returned) *returned = 35;
        return TRUE;
    }
    case IoctlUsbGetNodeConnectionName: {
        if (!in || !out || inSize < NodeConnectionNameHeadSize ||
            outSize < NodeConnectionNameHeadSize)
            break;
        ULONG port = ReadLe32(in);
        Port* p = FindPort(m, id, port);
        if (!p) break;
        bool first = outSize == NodeConnectionNameHeadSize;
        if (Hit(m, first ? Request::HubNameSize : Request::HubName) ||
            (first ? p->faults.nameSize : p->faults.name))
            return Fail(ERROR_GEN_FAILURE, returned);
        if (p->kind != Port::HubPort || !m.hubs.count(p->hub))
            return Fail(ERROR_INVALID_PARAMETER, returned);
        WriteLe32(out, port);
        DWORD written = PutName(m.hubs[p->hub].name, p->faults.nameActualLength, 4, out, outSize);
        if (returned) *returned = written;
        return TRUE;
    }
    case IoctlUsbGetDescriptorFromNodeConnection: {
        if (!in || !out || inSize < sizeof(DescriptorRequestHead) ||
            outSize < sizeof(DescriptorRequestHead))
            break;
        DescriptorRequestHead head;
        std::memcpy(&head, in, sizeof head);
        Port* p = FindPort(m, id, head.ConnectionIndex);
        if (!p || head.wValue != (ConfigurationDescriptorType << 8) || head.wIndex != 0 ||
            head.bmRequest != 0 || head.bRequest != 0 ||
            head.wLength + sizeof(DescriptorRequestHead) > outSize)
            break;
        bool first = outSize == sizeof(DescriptorBlock) && head.wLength == 9;
        if (Hit(m, first ? Request::DescriptorHead : Request::DescriptorBody) ||
            (first ? p->faults.descriptorHead : p->faults.descriptorBody))
            return Fail(ERROR_GEN_FAILURE, returned);
        if (p->kind != Port::DevicePort || p->device.configuration.empty())
            return Fail(ERROR_GEN_FAILURE, returned);
        std::vector<unsigned char> data = p->device.configuration;
        if (!first && data.size() >= 4) {
            USHORT total = static_cast<USHORT>(ReadLe16(&data[2]) + p->faults.bodyTotalLengthDelta);
            WriteLe16(&data[2], total);
        }
        DWORD copy = std::min<DWORD>(head.wLength, static_cast<DWORD>(data.size()));
        std::memmove(out, &head, sizeof head);
        std::memcpy(out + sizeof head, data.data(), copy);
        long delta =
            first ? p->faults.descriptorHeadBytesDelta : p->faults.descriptorBodyBytesDelta;
        if (returned) *returned = static_cast<DWORD>(sizeof head + copy + delta);
        return TRUE;
    }
    default:
        break;
    }
    ++m.protocolErrors;
    return Fail(ERROR_INVALID_PARAMETER, returned);
}

void Hold(unsigned microseconds) {
    if (!microseconds) return;
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    do {
        SwitchToThread();
        QueryPerformanceCounter(&now);
    } while ((now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart < microseconds);
}

// Called without the machine lock held: the request stays "in flight" for the hold time.
BOOL DriverRequest(int index, DWORD code, void* inVoid, DWORD inSize, void* outVoid, DWORD outSize,
                   DWORD* returned) {
    Machine& m = M();
    const BYTE* in = static_cast<const BYTE*>(inVoid);
    BYTE* out = static_cast<BYTE*>(outVoid);
    unsigned hold;
    bool fail;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        XuRecord record;
        record.code = code;
        if (in && inSize) record.input.assign(in, in + inSize);
        record.outputSize = outSize;
        record.hadOutput = out != nullptr;
        if (index >= 0 && index < static_cast<int>(m.interfaces.size()))
            record.path = m.interfaces[index].path;
        m.xuLog.push_back(record);
        fail = Hit(m, Request::XuControl);
        if (++m.inFlight > 1) ++m.overlaps;
        hold = m.holdMicroseconds;
    }
    Hold(hold);
    std::lock_guard<std::mutex> guard(m.lock);
    --m.inFlight;
    if (code != XuControlIoctl || !in || inSize < sizeof(XuControlRequest)) {
        ++m.protocolErrors;
        return Fail(ERROR_INVALID_FUNCTION, returned);
    }
    XuControlRequest request;
    std::memcpy(&request, in, sizeof request);
    DWORD expectedIn =
        request.Direction == XuDirectionWrite
            ? std::max<DWORD>(sizeof request, XuControlHeaderSize + request.DataLength)
            : sizeof request;
    if (request.Direction > XuDirectionWrite || inSize != expectedIn ||
        (request.Direction == XuDirectionRead && (!out || outSize < request.DataLength)))
        ++m.protocolErrors;
    if (fail || !m.xuSucceed) return Fail(ERROR_GEN_FAILURE, returned);
    if (request.Direction == XuDirectionWrite) {
        unsigned short value = request.ControlValue;
        if (request.DataLength >= 2 && inSize >= XuControlHeaderSize + 2)
            value = ReadLe16(in + XuControlHeaderSize);
        else if (request.DataLength == 1 && inSize > XuControlHeaderSize)
            value = in[XuControlHeaderSize];
        m.xuValues[request.Selector] = value;
    } else if (out) {
        unsigned short value = m.xuValues[request.Selector];
        DWORD count = std::min<DWORD>(outSize, request.DataLength);
        for (DWORD i = 0; i < count; ++i) out[i] = i < 2 ? static_cast<BYTE>(value >> (8 * i)) : 0;
    }
    if (returned) *returned = m.xuBytes >= 0 ? static_cast<DWORD>(m.xuBytes) : request.DataLength;
    return TRUE;
}

std::string NextHubName(Machine& m, bool root, HubId id) {
    char name[160];
    std::snprintf(name, sizeof name,
                  root
                      ? "USB#ROOT_HUB20#4&2f%04x&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}"
                      : "USB#VID_05E3&PID_0610#5&3a%04x&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}",
                  id);
    return name;
}

HubId NewHub(Machine& m, bool root, int ports, const std::string& name) {
    HubId id = m.nextHub++;
    Hub& hub = m.hubs[id];
    hub.name = name.empty() ? NextHubName(m, root, id) : name;
    hub.ports.resize(std::max(0, std::min(ports, 255)));
    return id;
}

Port* PortOf(Machine& m, HubId parent, int port) {
    return port > 0 ? FindPort(m, parent, static_cast<ULONG>(port)) : nullptr;
}

const SIZE_T PageSize = 4096;

}  // namespace

// ---- Machine ---------------------------------------------------------------------------------

void Reset() {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    for (auto& controller : m.controllers) controller = Controller();
    m.hubs.clear();
    m.nextHub = 1;
    m.handles.clear();
    m.blocks.clear();  // blocks still held are the caller's leak; forgetting them keeps tests apart
    m.badReleases = 0;
    m.protocolErrors = 0;
    std::fill(std::begin(m.counts), std::end(m.counts), 0);
    std::fill(std::begin(m.failAt), std::end(m.failAt), 0);
    m.allocations = 0;
    m.allocFailAt = 0;
    m.interfaces.clear();
    m.classDevsFails = false;
    m.xuLog.clear();
    m.xuSucceed = true;
    m.xuBytes = -1;
    m.xuValues.clear();
    m.holdMicroseconds = 0;
    m.inFlight = 0;
    m.overlaps = 0;
}

HubId AddHostController(int number, int ports, const std::string& rootHubName) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (number < 0 || number > 9) return 0;
    Controller& controller = m.controllers[number];
    controller.present = true;
    controller.root = NewHub(m, true, ports, rootHubName);
    return controller.root;
}

HubId AttachHub(HubId parent, int port, int ports, const std::string& name) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (!PortOf(m, parent, port)) return 0;
    HubId id = NewHub(m, false, ports, name);
    Port& p = *PortOf(m, parent, port);
    p.kind = Port::HubPort;
    p.hub = id;
    return id;
}

void AttachHubLink(HubId parent, int port, HubId target) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (Port* p = PortOf(m, parent, port)) {
        p->kind = Port::HubPort;
        p->hub = target;
    }
}

std::string HubName(HubId hub) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.hubs.find(hub);
    return it == m.hubs.end() ? std::string() : it->second.name;
}

void AttachDevice(HubId parent, int port, const UsbDevice& device) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (Port* p = PortOf(m, parent, port)) {
        p->kind = Port::DevicePort;
        p->hub = 0;
        p->device = device;
    }
}

// ---- Faults ----------------------------------------------------------------------------------

void SetControllerFaults(int number, const ControllerFaults& faults) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (number >= 0 && number <= 9) m.controllers[number].faults = faults;
}

void SetHubFaults(HubId hub, const HubFaults& faults) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.hubs.find(hub);
    if (it != m.hubs.end()) it->second.faults = faults;
}

void SetPortFaults(HubId hub, int port, const PortFaults& faults) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (Port* p = PortOf(m, hub, port)) p->faults = faults;
}

void FailNth(Request request, int nth) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    int i = static_cast<int>(request);
    if (i < 0 || i >= static_cast<int>(Request::Count)) return;
    m.failAt[i] = nth > 0 ? m.counts[i] + nth : 0;
}

int RequestCount(Request request) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    int i = static_cast<int>(request);
    return i >= 0 && i < static_cast<int>(Request::Count) ? m.counts[i] : 0;
}

void FailNthAllocation(int nth) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.allocFailAt = nth > 0 ? m.allocations + nth : 0;
}

// ---- Capture interfaces and the camera driver ---------------------------------------------

int AddCaptureInterface(const CaptureInterface& entry) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.interfaces.push_back(entry);
    return static_cast<int>(m.interfaces.size()) - 1;
}

void SetClassDevsFails(bool fails) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.classDevsFails = fails;
}

std::vector<XuRecord> XuRequests() {
    return Locked([](Machine& m) { return m.xuLog; });
}

void SetXuResponse(bool succeed, long bytesReturned) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.xuSucceed = succeed;
    m.xuBytes = bytesReturned;
}

unsigned short XuValue(unsigned short selector, bool* known) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.xuValues.find(selector);
    if (known) *known = it != m.xuValues.end();
    return it == m.xuValues.end() ? 0 : it->second;
}

void SetXuValue(unsigned short selector, unsigned short value) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.xuValues[selector] = value;
}

void SetXuHoldMicroseconds(unsigned microseconds) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.holdMicroseconds = microseconds;
}

int XuOverlaps() {
    return Locked([](Machine& m) { return m.overlaps; });
}

// ---- Accounting ------------------------------------------------------------------------------

int OpenHandles() {
    return Locked([](Machine& m) { return static_cast<int>(m.handles.size()); });
}

int LiveBlocks() {
    return Locked([](Machine& m) { return static_cast<int>(m.blocks.size()); });
}

int BadReleases() {
    return Locked([](Machine& m) { return m.badReleases; });
}

int ProtocolErrors() {
    return Locked([](Machine& m) { return m.protocolErrors; });
}

std::string Describe() {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    char text[160];
    std::snprintf(text, sizeof text,
                  "open handles %d, live blocks %d, bad releases %d, protocol errors %d",
                  static_cast<int>(m.handles.size()), static_cast<int>(m.blocks.size()),
                  m.badReleases, m.protocolErrors);
    return text;
}

void SetGuardedBlocks(bool guarded) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.guarded = guarded;
}

// ---- The standard camera ---------------------------------------------------------------------

const char* const StandardInstance = "7&1a2b3c4d&0&0000";
const char* const StandardDriverKey = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0042";

std::vector<unsigned char> CameraConfiguration(bool powerLine, unsigned char controlSize) {
    std::vector<unsigned char> set = {
        9,  2,  0,    0,    2,    1,  0, 0x80, 0xFA,  // configuration
        8,  11, 0,    2,    14,   3,  0, 0,           // interface association: video
        9,  4,  0,    0,    1,    14, 1, 0,    0,     // interface 0: video control
        13, 36, 1,    0x10, 0x01, 0,  0, 0x80, 0x8D, 0x5B, 0x00, 1, 1,  // header
        18, 36, 2,    1,    1,    2,  0, 0,    0,    0,    0,    0, 0,
        0,  3,  0x0E, 0,    0,  // camera terminal
    };
    size_t headerAt = 26;
    // Processing unit: bUnitID 2, source 1, wMaxMultiplier 0, bControlSize, bmControls,
    // iProcessing.
    std::vector<unsigned char> unit = {
        static_cast<unsigned char>(9 + controlSize), 36, 5, 2, 1, 0, 0, controlSize};
    for (unsigned i = 0; i < controlSize; ++i) {
        unsigned char bits = i == 0 ? 0x7F : i == 1 ? 0x0B : 0x00;
        if (i == 1 && powerLine) bits |= 0x04;
        unit.push_back(bits);
    }
    unit.push_back(0);
    set.insert(set.end(), unit.begin(), unit.end());
    const unsigned char tail[] = {
        9,  36, 3,    3,    1,    1,  0,    2, 0,                 // output terminal
        7,  5,  0x83, 3,    0x10, 0,  6,                          // interrupt endpoint
        5,  37, 3,    0x10, 0,                                    // class-specific endpoint
        9,  4,  1,    0,    1,    14, 2,    0, 0,                 // interface 1: video streaming
        14, 36, 1,    1,    0,    0,  0x81, 0, 3, 0, 0, 0, 1, 0,  // input header
        7,  5,  0x81, 2,    0,    2,  0,                          // bulk endpoint
    };
    size_t controlEnd = set.size() + 9;  // the video-control descriptors end after the terminal
    set.insert(set.end(), std::begin(tail), std::end(tail));
    WriteLe16(&set[2], static_cast<USHORT>(set.size()));
    WriteLe16(&set[headerAt + 5], static_cast<USHORT>(controlEnd - headerAt));
    return set;
}

std::string DevicePath(unsigned short vendorId, unsigned short productId,
                       const std::string& interfaceText, const std::string& instance) {
    char head[64];
    std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x", vendorId, productId);
    std::string path = head;
    if (!interfaceText.empty()) path += "&mi_" + interfaceText;
    path += "#" + (instance.empty() ? std::string(StandardInstance) : instance);
    path += "#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    return path;
}

StandardCamera PlugStandardCamera(const StandardCameraOptions& options) {
    StandardCamera camera;
    camera.rootHub = AddHostController(0, 4);
    UsbDevice mouse;
    mouse.vendorId = 0x046D;
    mouse.productId = 0xC077;
    if (options.externalHub) {
        HubId other = AttachHub(camera.rootHub, 1, 2);
        AttachDevice(other, 1, mouse);
        camera.externalHub = AttachHub(camera.rootHub, 2, 4);
        camera.cameraHub = camera.externalHub;
        camera.cameraPort = 3;
    } else {
        AttachDevice(camera.rootHub, 1, mouse);
        camera.cameraHub = camera.rootHub;
        camera.cameraPort = 2;
    }
    UsbDevice device;
    device.vendorId = CameraVendorId;
    device.productId = options.productId;
    device.configuration = CameraConfiguration(options.powerLine);
    AttachDevice(camera.cameraHub, camera.cameraPort, device);
    camera.devicePath = DevicePath(CameraVendorId, options.productId, "00");
    camera.instanceId = InstanceIdFromPath(camera.devicePath);
    CaptureInterface entry;
    entry.path = camera.devicePath;
    AddCaptureInterface(entry);
    return camera;
}

std::string InstanceIdFromPath(const std::string& devicePath) {
    std::string id;
    return DeviceInstanceId(devicePath.c_str(), devicePath.size(), &id) ? id : std::string();
}

// ---- Registry --------------------------------------------------------------------------------

namespace {
const char* const EnumRoot = "SYSTEM\\CurrentControlSet\\Enum\\";
const char* const ClassRoot = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

bool CreateKey(const std::string& path) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
}  // namespace

std::string CreateDriverKeys(const std::string& instanceId, const std::string& driverKey,
                             const RegistryOptions& options) {
    // An empty name would make the Enum or Class key itself the target.
    if (instanceId.empty() || driverKey.empty()) return "";
    std::string instancePath = EnumRoot + instanceId;
    std::string driverPath = ClassRoot + driverKey;
    std::string settingsPath = driverPath + "\\Settings";
    if (options.instanceKey) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, instancePath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return "";
        LONG status = ERROR_SUCCESS;
        if (options.driverValue)
            status = RegSetValueExA(key, "Driver", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(driverKey.c_str()),
                                    static_cast<DWORD>(driverKey.size() + 1));
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return "";
    }
    if (!CreateKey(driverPath)) return "";
    if (options.settingsKey && !CreateKey(settingsPath)) return "";
    return settingsPath;
}

void RemoveDriverKeys(const std::string& instanceId, const std::string& driverKey) {
    if (instanceId.empty() || driverKey.empty()) return;
    std::string instancePath = EnumRoot + instanceId;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, instancePath.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, instancePath.c_str());
    // The device key above the instance goes too when nothing else lives under it.
    size_t slash = instancePath.rfind('\\');
    if (slash != std::string::npos && slash > std::strlen(EnumRoot))
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, instancePath.substr(0, slash).c_str());
    std::string driverPath = ClassRoot + driverKey;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, driverPath.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, driverPath.c_str());
}

void PlugStandardCameraForDemo() {
    Reset();
    StandardCamera camera = PlugStandardCamera();
    CreateDriverKeys(camera.instanceId);
}

}  // namespace vcam

// ---- The device layer over the model ----------------------------------------------------------

namespace DeviceLayer {
using namespace vcam;

HANDLE OpenDevice(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string name = path;
    if (disposition != OPEN_EXISTING) ++m.protocolErrors;
    if (name.size() == 8 && _strnicmp(path, "\\\\.\\HCD", 7) == 0 && name[7] >= '0' &&
        name[7] <= '9') {
        int number = name[7] - '0';
        Controller& controller = m.controllers[number];
        if (Hit(m, Request::ControllerOpen) || !controller.present || controller.faults.open) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (!(access & GENERIC_WRITE)) ++m.protocolErrors;
        return NewHandle(m, HandleInfo::ControllerHandle, number);
    }
    if (name.size() > 4 && name.compare(0, 4, "\\\\.\\") == 0) {
        std::string hubName = name.substr(4);
        for (auto& entry : m.hubs) {
            if (!EqualNoCase(entry.second.name, hubName)) continue;
            if (Hit(m, Request::HubOpen) || entry.second.faults.open) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return INVALID_HANDLE_VALUE;
            }
            if (!(access & GENERIC_WRITE)) ++m.protocolErrors;
            return NewHandle(m, HandleInfo::HubHandle, entry.first);
        }
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    for (size_t i = 0; i < m.interfaces.size(); ++i) {
        if (!EqualNoCase(m.interfaces[i].path, name)) continue;
        if (Hit(m, Request::InterfaceOpen) || m.interfaces[i].openFails) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if ((access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE))
            ++m.protocolErrors;
        return NewHandle(m, HandleInfo::InterfaceHandle, static_cast<int>(i));
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
               DWORD* returned) {
    Machine& m = M();
    int interfaceIndex;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        auto it = m.handles.find(reinterpret_cast<ULONG_PTR>(device));
        if (it == m.handles.end() || it->second.kind == HandleInfo::ListHandle) {
            ++m.protocolErrors;
            return Fail(ERROR_INVALID_HANDLE, returned);
        }
        BYTE* bytes = static_cast<BYTE*>(out);
        switch (it->second.kind) {
        case HandleInfo::ControllerHandle:
            return RootHubRequest(m, it->second.id, code, in, inSize, bytes, outSize, returned);
        case HandleInfo::HubHandle:
            if (!m.hubs.count(it->second.id)) return Fail(ERROR_DEVICE_REMOVED, returned);
            return HubRequest(m, it->second.id, code, in, inSize, bytes, outSize, returned);
        default:
            interfaceIndex = it->second.id;
            break;
        }
    }
    return DriverRequest(interfaceIndex, code, in, inSize, out, outSize, returned);
}

BOOL CloseDevice(HANDLE device) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.handles.find(reinterpret_cast<ULONG_PTR>(device));
    if (it == m.handles.end() || it->second.kind == HandleInfo::ListHandle) {
        ++m.badReleases;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    m.handles.erase(it);
    return TRUE;
}

HDEVINFO GetClassDevs(const GUID* interfaceClass, DWORD flags) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (!interfaceClass || !IsEqualGUID(*interfaceClass, KsCategoryCapture) ||
        flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
        ++m.protocolErrors;
    if (Hit(m, Request::ClassDevs) || m.classDevsFails) {
        SetLastError(ERROR_INVALID_DATA);
        return INVALID_HANDLE_VALUE;
    }
    return NewHandle(m, HandleInfo::ListHandle, 0);
}

BOOL EnumDeviceInterfaces(HDEVINFO list, const GUID* interfaceClass, DWORD index,
                          SP_DEVICE_INTERFACE_DATA* data) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (!FindHandle(m, list, HandleInfo::ListHandle) || !data ||
        data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        ++m.protocolErrors;
        return Fail(ERROR_INVALID_PARAMETER, nullptr);
    }
    bool fail = Hit(m, Request::EnumInterface);
    if (index >= m.interfaces.size()) return Fail(ERROR_NO_MORE_ITEMS, nullptr);
    if (fail || m.interfaces[index].enumFails) return Fail(ERROR_GEN_FAILURE, nullptr);
    data->InterfaceClassGuid = KsCategoryCapture;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

BOOL GetDeviceInterfaceDetail(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* data,
                              SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                              DWORD* requiredSize) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (!FindHandle(m, list, HandleInfo::ListHandle) || !data || data->Reserved == 0 ||
        data->Reserved > m.interfaces.size()) {
        ++m.protocolErrors;
        return Fail(ERROR_INVALID_PARAMETER, nullptr);
    }
    const CaptureInterface& entry = m.interfaces[data->Reserved - 1];
    DWORD required = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                        entry.path.size() + 1);
    if (requiredSize) *requiredSize = required;
    if (!detail) {
        if (detailSize != 0) ++m.protocolErrors;
        return Fail(ERROR_INSUFFICIENT_BUFFER, nullptr);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        ++m.protocolErrors;
        return Fail(ERROR_INVALID_USER_BUFFER, nullptr);
    }
    if (detailSize < required) return Fail(ERROR_INSUFFICIENT_BUFFER, nullptr);
    if (Hit(m, Request::InterfaceDetail) || entry.detailFails)
        return Fail(ERROR_GEN_FAILURE, nullptr);
    std::memcpy(detail->DevicePath, entry.path.c_str(), entry.path.size() + 1);
    return TRUE;
}

BOOL DestroyDeviceInfoList(HDEVINFO list) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (!FindHandle(m, list, HandleInfo::ListHandle)) {
        ++m.badReleases;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    m.handles.erase(reinterpret_cast<ULONG_PTR>(list));
    return TRUE;
}

void* AllocBlock(SIZE_T size) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    ++m.allocations;
    if (m.allocFailAt != 0 && m.allocations == m.allocFailAt) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!m.guarded) {
        void* block = GlobalAlloc(GPTR, size);
        if (block) m.blocks[block] = BlockRecord{block, size, false};
        return block;
    }
    if (size > (SIZE_T(1) << 30)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    SIZE_T body = (size + PageSize - 1) / PageSize * PageSize;
    BYTE* base = static_cast<BYTE*>(
        VirtualAlloc(nullptr, body + PageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base) return nullptr;
    DWORD old;
    VirtualProtect(base + body, PageSize, PAGE_NOACCESS, &old);
    void* block = base + body - size;
    m.blocks[block] = BlockRecord{base, size, true};
    return block;
}

void FreeBlock(void* block) {
    if (!block) return;
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.blocks.find(block);
    if (it == m.blocks.end()) {
        ++m.badReleases;
        return;
    }
    if (it->second.guarded)
        VirtualFree(it->second.base, 0, MEM_RELEASE);
    else
        GlobalFree(it->second.base);
    m.blocks.erase(it);
}

SIZE_T BlockSize(const void* block) {
    if (!block) return 0;
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.blocks.find(block);
    return it == m.blocks.end() ? 0 : it->second.size;
}

}  // namespace DeviceLayer

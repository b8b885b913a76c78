#include "VirtualCamera/VirtualCamera.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "Common/LittleEndian.h"
#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/camera/DevicePath.h"
#include "DLL/camera/UsbLayouts.h"
#include "DriverPackage/XuTransfer.h"
#include "VirtualCamera/hardware/UsbHardware.h"

namespace vcam {
namespace {

struct HandleInfo {
    enum Kind { ControllerHandle, HubHandle, InterfaceHandle, ListHandle } kind;
    int id;  // controller number, hub id or interface index
};

struct BlockRecord {
    void* base;  // what VirtualAlloc or GlobalAlloc returned
    SIZE_T size;
    bool guarded;
};

// The hardware itself is the shared model (hardware/UsbHardware.h), which the kernel bus driver
// answers through too; what lies around it here (handles, blocks, fault counters, the request
// log, the camera's driver) belongs to the user-mode model alone.
struct Machine {
    std::mutex lock;
    Scene scene;

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
    VusbCameraState camera = {};
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

// The shared model asks before its own faults apply.
int HardwareHook(void* context, int kind) {
    static const Request requests[] = {
        Request::RootHubNameSize, Request::RootHubName,    Request::NodeInformation,
        Request::ConnectionEx,    Request::Connection,     Request::HubNameSize,
        Request::HubName,         Request::DescriptorHead, Request::DescriptorBody};
    if (kind < 0 || kind >= static_cast<int>(sizeof requests / sizeof requests[0])) return 0;
    return Hit(*static_cast<Machine*>(context), requests[kind]);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

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

BOOL Fail(DWORD error, DWORD* returned) {
    if (returned) *returned = 0;
    SetLastError(error);
    return FALSE;
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

// The camera's driver over the camera: called without the machine lock held, so that the
// request stays "in flight" for the hold time.
BOOL DriverRequest(int index, DWORD code, void* inVoid, DWORD inSize, void* outVoid, DWORD outSize,
                   DWORD* returned) {
    Machine& m = M();
    BYTE* in = static_cast<BYTE*>(inVoid);
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
    XuTransfer transfer;
    if (!XuDescribeTransfer(in, inSize, out ? outSize : 0, &transfer)) {
        ++m.protocolErrors;
        return Fail(ERROR_INVALID_PARAMETER, returned);
    }
    if (fail || !m.xuSucceed) return Fail(ERROR_GEN_FAILURE, returned);
    BYTE* data = transfer.requestType & 0x80 ? out : in + transfer.dataOffset;
    std::uint32_t transferred = 0;
    if (VusbCameraControl(&m.camera, transfer.requestType, transfer.request, transfer.value,
                          transfer.index, transfer.length, data, &transferred) != VusbOk)
        return Fail(ERROR_GEN_FAILURE, returned);
    if (returned)
        *returned = m.xuBytes >= 0 ? static_cast<DWORD>(m.xuBytes)
                                   : XuBytesReturned(&transfer, transferred);
    return TRUE;
}

const SIZE_T PageSize = 4096;

}  // namespace

// ---- Machine ---------------------------------------------------------------------------------

void Reset() {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.scene = Scene();
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
    m.camera = VusbCameraState{};
    m.holdMicroseconds = 0;
    m.inFlight = 0;
    m.overlaps = 0;
}

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
    std::uint16_t value = 0;
    const bool stored = VusbCameraValue(&m.camera, selector, &value);
    if (known) *known = stored;
    return value;
}

void SetXuValue(unsigned short selector, unsigned short value) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    std::uint32_t transferred;
    VusbCameraControl(&m.camera, 0x40, 0, value, selector, 0, nullptr, &transferred);
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
        const VusbController& controller = m.scene.Hardware().controllers[number];
        if (Hit(m, Request::ControllerOpen) || !controller.present || controller.faults.open) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (!(access & GENERIC_WRITE)) ++m.protocolErrors;
        return NewHandle(m, HandleInfo::ControllerHandle, number);
    }
    if (name.size() > 4 && name.compare(0, 4, "\\\\.\\") == 0) {
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
        std::uint32_t bytes = 0;
        int status;
        switch (it->second.kind) {
        case HandleInfo::ControllerHandle:
            status = VusbControllerRequest(&m.scene.Hardware(), it->second.id, code, in, inSize,
                                           out, outSize, &bytes, HardwareHook, &m);
            return Answer(m, status, bytes, returned);
        case HandleInfo::HubHandle:
            if (!m.scene.HubExists(it->second.id)) return Fail(ERROR_DEVICE_REMOVED, returned);
            status = VusbHubRequest(&m.scene.Hardware(), m.scene.Pool().data(), it->second.id, code,
                                    in, inSize, out, outSize, &bytes, HardwareHook, &m);
            return Answer(m, status, bytes, returned);
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

// The camera's driver over the camera: its capture interfaces as SetupAPI lists them, and its
// extension-unit request, by the driver package's own rule.
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/camera/UsbLayouts.h"
#include "DLL/props/ControlTable.h"
#include "DriverPackage/XuTransfer.h"
#include "VirtualCamera/Machine.h"

namespace vcam {
using namespace detail;

namespace {

// The driver's read of its Settings key at start: a REG_DWORD of 4 bytes, or nothing.
int ReadStoredDword(void* context, const char* name, int32_t* value) {
    DWORD type = REG_NONE, size = sizeof *value;
    return RegGetValueA(HKEY_LOCAL_MACHINE, static_cast<const std::string*>(context)->c_str(), name,
                        RRF_RT_ANY, &type, value, &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof *value;
}

// What the driver reads from the camera at start, as it reads it: the head of the configuration
// descriptor set, then the whole set, and whether its standard processing unit offers power-line
// frequency (0 when the set cannot be read).
uint32_t StandardPowerLine(Machine& m) {
    const VusbScene& scene = m.scene.Hardware();
    const std::uint8_t* pool = m.scene.Pool().data();
    std::uint8_t head[9];
    uint32_t got = 0, flag = 0;
    if (!VusbCameraConfiguration(&scene, pool, head, sizeof head, &got) || got != sizeof head)
        return 0;
    std::vector<std::uint8_t> set(head[2] | head[3] << 8);
    if (set.size() < sizeof head ||
        !VusbCameraConfiguration(&scene, pool, set.data(), static_cast<uint32_t>(set.size()),
                                 &got) ||
        got != set.size() || !XuStandardPowerLine(set.data(), got, &flag))
        return 0;
    return flag;
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

}  // namespace

// ---- Capture interfaces and the camera driver ---------------------------------------------

int AddCaptureInterface(const CaptureInterface& entry) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    InterfaceEntry added;
    static_cast<CaptureInterface&>(added) = entry;
    m.interfaces.push_back(added);
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

void PullCaptureInterface(int index) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (index >= 0 && index < static_cast<int>(m.interfaces.size()))
        m.interfaces[index].pulled = true;
}

void PutCaptureInterfaceBack(int index) {
    std::string settingsPath;
    uint32_t standardPowerLine = 0;
    {
        Machine& m = M();
        std::lock_guard<std::mutex> guard(m.lock);
        if (index < 0 || index >= static_cast<int>(m.interfaces.size())) return;
        settingsPath = SettingsPathOf(InstanceIdFromPath(m.interfaces[index].path));
        standardPowerLine = StandardPowerLine(m);
    }
    XuTransfer transfers[PropertyCount];
    const uint32_t count =
        settingsPath.empty()
            ? 0
            : XuStartUpTransfers(ReadStoredDword, &settingsPath, standardPowerLine, transfers,
                                 sizeof transfers / sizeof transfers[0]);
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (index >= static_cast<int>(m.interfaces.size()) || !m.interfaces[index].pulled) return;
    InterfaceEntry& entry = m.interfaces[index];
    entry.pulled = false;
    ++entry.plugging;
    m.camera = VusbCameraState{};
    for (uint32_t i = 0; i < count; ++i) {
        std::uint32_t transferred = 0;
        VusbCameraControl(&m.camera, transfers[i].requestType, transfers[i].request,
                          transfers[i].value, transfers[i].index, transfers[i].length, nullptr,
                          &transferred);
    }
}

void SetXuResponse(bool succeed, long bytesReturned, DWORD error) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.xuSucceed = succeed;
    m.xuBytes = bytesReturned;
    m.xuError = error;
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

namespace detail {

HANDLE OpenInterface(Machine& m, const std::string& path, DWORD access) {
    for (size_t i = 0; i < m.interfaces.size(); ++i) {
        if (m.interfaces[i].pulled || !EqualNoCase(m.interfaces[i].path, path)) continue;
        if (Hit(m, Request::InterfaceOpen) || m.interfaces[i].openFails) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if ((access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE))
            ++m.protocolErrors;
        return NewHandle(m, HandleInfo::InterfaceHandle, static_cast<int>(i),
                         m.interfaces[i].plugging);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

// Called without the machine lock held, so that the request stays "in flight" for the hold time.
BOOL InterfaceRequest(const HandleInfo& handle, DWORD code, void* inVoid, DWORD inSize,
                      void* outVoid, DWORD outSize, DWORD* returned) {
    Machine& m = M();
    BYTE* in = static_cast<BYTE*>(inVoid);
    BYTE* out = static_cast<BYTE*>(outVoid);
    const int index = handle.id;
    unsigned hold;
    bool fail;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        // The stack the handle reached was removed: its driver never sees the request.
        const InterfaceEntry& entry = m.interfaces[index];
        if (entry.pulled || entry.plugging != handle.plugging)
            return Fail(ERROR_DEVICE_REMOVED, returned);
        XuRecord record;
        record.code = code;
        if (in && inSize) record.input.assign(in, in + inSize);
        record.outputSize = outSize;
        record.hadOutput = out != nullptr;
        record.path = entry.path;
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
    if (fail) return Fail(ERROR_GEN_FAILURE, returned);
    if (!m.xuSucceed) return Fail(m.xuError, returned);
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

}  // namespace detail
}  // namespace vcam

// ---- The device layer's interface list ---------------------------------------------------------

namespace DeviceLayer {
using namespace vcam;
using namespace vcam::detail;

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
    // Only present interfaces are listed: a pulled one leaves no gap.
    size_t at = 0;
    for (DWORD present = 0; at < m.interfaces.size(); ++at) {
        if (m.interfaces[at].pulled) continue;
        if (present++ == index) break;
    }
    if (at >= m.interfaces.size()) return Fail(ERROR_NO_MORE_ITEMS, nullptr);
    if (fail || m.interfaces[at].enumFails) return Fail(ERROR_GEN_FAILURE, nullptr);
    data->InterfaceClassGuid = KsCategoryCapture;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = at + 1;
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

}  // namespace DeviceLayer

#include "DLL/camera/DeviceChannel.h"

#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/camera/DevicePath.h"
#include "DLL/camera/UsbLayouts.h"

DeviceChannel TheDeviceChannel;

namespace {

const DWORD MaxInterfaceIndex = 255;
const char* const EnumKeyPath = "SYSTEM\\CurrentControlSet\\Enum";
const char* const ClassKeyPath = "SYSTEM\\CurrentControlSet\\Control\\Class";

// A request's header, filled by field name; the two bytes after it carry nothing.
XuControlRequest RequestHead(UCHAR direction, BYTE requestCode, WORD selector, WORD value,
                             WORD length) {
    XuControlRequest request = {};
    request.Direction = direction;
    request.RequestCode = requestCode;
    request.Selector = selector;
    request.DataLength = length;
    request.ControlValue = value;
    return request;
}

bool OpenKey(HKEY parent, const char* path, REGSAM access, RegistryKey& key) {
    return RegOpenKeyExA(parent, path, 0, access, key.Receive()) == ERROR_SUCCESS;
}

// Errors that say the device object behind the handle is gone, so the request never reached the
// camera and a new handle may reach it again: the removed device's stack answering
// STATUS_DEVICE_REMOVED (measured), STATUS_DEVICE_DOES_NOT_EXIST (55) and STATUS_NO_SUCH_DEVICE
// (433) as drivers fail requests to a removed device, STATUS_DEVICE_NOT_CONNECTED (1167) as the
// USB stack fails a transfer to an unplugged one, and ERROR_ACCESS_DENIED, which is what a
// handle gets whose device object was deleted under it (measured under Wine, which tears the
// stack down while handles are open; STATUS_FILE_DELETED): the camera's driver refuses nothing
// with it, so a repeat never sends a write that reached the camera. Not ERROR_FILE_NOT_FOUND,
// which older systems give for STATUS_NO_SUCH_DEVICE: it is also any "no such object" refusal of
// a delivered request, and a request repeated after a refusal would reach the camera twice.
bool DeviceGone(DWORD error) {
    const DWORD noSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE, which MinGW's headers lack
    return error == ERROR_DEVICE_REMOVED || error == ERROR_DEV_NOT_EXIST || error == noSuchDevice ||
           error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_ACCESS_DENIED;
}

// The first present interface of the class whose path carries the IDs, and is `only` when that is
// given, that opens; its path goes to *opened when asked for.
DeviceLayer::Device OpenFirstInterface(const GUID& interfaceClass, unsigned short vendorId,
                                       unsigned short productId, unsigned short interfaceNumber,
                                       const char* only, std::string* opened) {
    const DeviceLayer::DeviceList list(
        DeviceLayer::GetClassDevs(&interfaceClass, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    for (DWORD index = 0; list && index <= MaxInterfaceIndex; ++index) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!DeviceLayer::EnumDeviceInterfaces(list.Get(), &interfaceClass, index, &data)) continue;
        DWORD required = 0;
        DeviceLayer::GetDeviceInterfaceDetail(list.Get(), &data, nullptr, 0, &required);
        const DWORD pathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        if (required <= pathAt) continue;
        const DeviceLayer::Block block(DeviceLayer::AllocBlock(required));
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.Get());
        if (!detail) continue;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!DeviceLayer::GetDeviceInterfaceDetail(list.Get(), &data, detail, required, nullptr))
            continue;
        // The path is used as text: it ends inside the block whatever the reply held.
        char* path = detail->DevicePath;
        path[required - pathAt - 1] = '\0';
        if (!MatchDevicePath(path, std::strlen(path), vendorId, productId, interfaceNumber) ||
            (only && lstrcmpiA(path, only) != 0))
            continue;
        DeviceLayer::Device device(DeviceLayer::OpenDevice(path, GENERIC_READ | GENERIC_WRITE,
                                                           FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
        if (!device) continue;
        if (opened) opened->assign(path);
        return device;
    }
    return DeviceLayer::Device();
}

}  // namespace

DeviceChannel::DeviceChannel() = default;

DeviceChannel::~DeviceChannel() { Close(); }

// Open and Close alone change the lock, and no request is in flight while they run.
bool DeviceChannel::IsOpen() const { return ioLock.IsValid(); }

bool DeviceChannel::Open(const GUID& interfaceClass, unsigned short vendorId,
                         unsigned short productId, unsigned short interfaceNumber) {
    Close();
    // The interface list goes before the Settings key is looked up and the request lock is made.
    device = OpenFirstInterface(interfaceClass, vendorId, productId, interfaceNumber, nullptr,
                                &devicePath);
    // The first interface that opens ends the search, whether its key opens or not.
    if (device) OpenSettingsKey(devicePath.c_str(), settingsKey.Receive());
    if (device && settingsKey) {
        ioLock.Reset(CreateMutexA(nullptr, FALSE, nullptr));
        if (ioLock) {
            openedClass = interfaceClass;
            openedVendor = vendorId;
            openedProduct = productId;
            openedInterface = interfaceNumber;
            return true;
        }
    }
    Close();
    return false;
}

void DeviceChannel::Close() {
    settingsKey.Reset();
    device.Reset();
    ioLock.Reset();
    devicePath.clear();
}

bool DeviceChannel::Reopen() {
    // The same camera only: its path names the driver instance whose Settings key the channel
    // holds. Windows and Wine give a camera put back the path it had.
    device = OpenFirstInterface(openedClass, openedVendor, openedProduct, openedInterface,
                                devicePath.c_str(), nullptr);
    if (!device) return false;
    InterlockedIncrement(&reconnections);
    return true;
}

LONG DeviceChannel::Reconnections() const { return reconnections; }

bool DeviceChannel::IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                              DWORD* returned) {
    if (!ioLock) return false;
    DWORD count = 0;
    // The handle is closed and replaced under the request lock, which every request holds while
    // it uses the handle: no thread can send on a handle another thread is replacing. Threads
    // queued behind a reopen wait for it, and then find the new handle or none.
    WaitForSingleObject(ioLock.Get(), INFINITE);
    // A camera found gone by an earlier request is looked for first; that is this request's one
    // reopen.
    const bool reopened = !device;
    if (reopened) Reopen();
    BOOL ok = FALSE;
    if (device) {
        ok = DeviceLayer::IoControl(device.Get(), code, in, inSize, out, outSize, &count);
        if (!ok && DeviceGone(GetLastError())) {
            // The removed device's stack stays until its last handle closes.
            device.Reset();
            if (!reopened && Reopen()) {
                count = 0;
                ok = DeviceLayer::IoControl(device.Get(), code, in, inSize, out, outSize, &count);
                if (!ok && DeviceGone(GetLastError())) device.Reset();
            }
        }
    }
    ReleaseMutex(ioLock.Get());
    if (returned) *returned = count;
    return ok != FALSE;
}

bool DeviceChannel::GetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length,
                                 void* buffer) {
    if (!IsOpen() || !buffer) return false;
    XuControlRequest request = RequestHead(XuDirectionRead, requestCode, selector, value, length);
    DWORD returned = 0;
    return IoControl(XuControlIoctl, &request, sizeof request, buffer, length, &returned) &&
           returned == length;
}

bool DeviceChannel::SetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length,
                                 const void* data) {
    if (!IsOpen()) return false;
    // Without data there is nothing to copy behind the header.
    if (length != 0 && !data) return false;
    DWORD size = length == 0 ? sizeof(XuControlRequest) : XuControlHeaderSize + length;
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[size]());
    if (!bytes) return false;
    const XuControlRequest head =
        RequestHead(XuDirectionWrite, requestCode, selector, value, length);
    std::memcpy(bytes.get(), &head, XuControlHeaderSize);
    if (length != 0) std::memcpy(bytes.get() + XuControlHeaderSize, data, length);
    DWORD returned = 0;
    return IoControl(XuControlIoctl, bytes.get(), size, nullptr, 0, &returned) &&
           returned == length;
}

template <typename Call>
LONG DeviceChannel::OnSettingsKey(Call call) {
    LONG status;
    AcquireSRWLockShared(&keyLock);
    status = settingsKey ? call(settingsKey.Get()) : ERROR_INVALID_HANDLE;
    ReleaseSRWLockShared(&keyLock);
    if (status != ERROR_KEY_DELETED) return status;
    // Swapped while no other thread uses the key. A key that cannot be found again stays: it
    // answers ERROR_KEY_DELETED, and the next call looks again.
    HKEY found = nullptr;
    AcquireSRWLockExclusive(&keyLock);
    if (OpenSettingsKey(devicePath.c_str(), &found)) settingsKey.Reset(found);
    ReleaseSRWLockExclusive(&keyLock);
    if (!found) return status;
    AcquireSRWLockShared(&keyLock);
    status = call(settingsKey.Get());
    ReleaseSRWLockShared(&keyLock);
    return status;
}

bool DeviceChannel::ReadSetting(const char* name, DWORD type, void* buffer, DWORD* size,
                                const void* fallback) {
    if (!buffer || !size) return false;
    if (name) {
        DWORD stored = REG_NONE;
        DWORD got = 0;
        const LONG status = OnSettingsKey([&](HKEY key) {
            stored = REG_NONE;
            got = *size;
            return RegQueryValueExA(key, name, nullptr, &stored, static_cast<BYTE*>(buffer), &got);
        });
        // A REG_DWORD of fewer than 4 bytes (even none) would leave part of the buffer unread.
        if (status == ERROR_SUCCESS && stored == type &&
            (type != REG_DWORD || got == sizeof(DWORD))) {
            *size = got;
            return true;
        }
    }
    if (fallback) std::memcpy(buffer, fallback, *size);
    return false;
}

bool DeviceChannel::WriteSetting(const char* name, DWORD type, const void* data, DWORD size) {
    if (!name || (size != 0 && !data)) return false;
    return OnSettingsKey([&](HKEY key) {
               return RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
           }) == ERROR_SUCCESS;
}

bool OpenSettingsKey(const char* devicePath, HKEY* key) {
    std::string id;
    if (!devicePath || !key || !DeviceInstanceId(devicePath, std::strlen(devicePath), &id))
        return false;

    std::vector<char> driver;
    {
        RegistryKey enumKey, instanceKey;
        if (!OpenKey(HKEY_LOCAL_MACHINE, EnumKeyPath, KEY_READ, enumKey) ||
            !OpenKey(enumKey.Get(), id.c_str(), KEY_READ, instanceKey))
            return false;
        DWORD size = 0;
        if (RegQueryValueExA(instanceKey.Get(), "Driver", nullptr, nullptr, nullptr, &size) !=
                ERROR_SUCCESS ||
            size == 0)
            return false;
        driver.assign(size + 1, '\0');
        if (RegQueryValueExA(instanceKey.Get(), "Driver", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(driver.data()), &size) != ERROR_SUCCESS)
            return false;
        driver[size < driver.size() ? size : driver.size() - 1] = '\0';
    }
    // An empty name would open the Class key itself.
    if (driver[0] == '\0') return false;

    RegistryKey classKey, driverKey, settings;
    if (!OpenKey(HKEY_LOCAL_MACHINE, ClassKeyPath, KEY_READ, classKey) ||
        !OpenKey(classKey.Get(), driver.data(), KEY_READ, driverKey) ||
        !OpenKey(driverKey.Get(), "Settings", KEY_QUERY_VALUE | KEY_SET_VALUE, settings))
        return false;
    *key = settings.Release();
    return true;
}

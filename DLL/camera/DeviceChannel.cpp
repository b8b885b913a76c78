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

}  // namespace

DeviceChannel::DeviceChannel() = default;

DeviceChannel::~DeviceChannel() { Close(); }

bool DeviceChannel::IsOpen() const { return device.IsValid() && settingsKey.IsValid(); }

bool DeviceChannel::Open(const GUID& interfaceClass, unsigned short vendorId,
                         unsigned short productId, unsigned short interfaceNumber) {
    Close();
    {
        const DeviceLayer::DeviceList list(
            DeviceLayer::GetClassDevs(&interfaceClass, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        for (DWORD index = 0; list && index <= MaxInterfaceIndex; ++index) {
            SP_DEVICE_INTERFACE_DATA data = {};
            data.cbSize = sizeof data;
            if (!DeviceLayer::EnumDeviceInterfaces(list.Get(), &interfaceClass, index, &data))
                continue;
            DWORD required = 0;
            DeviceLayer::GetDeviceInterfaceDetail(list.Get(), &data, nullptr, 0, &required);
            const DWORD pathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
            if (required <= pathAt) continue;
            const DeviceLayer::Block block(DeviceLayer::AllocBlock(required));
            auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.Get());
            if (!detail) continue;
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!DeviceLayer::GetDeviceInterfaceDetail(list.Get(), &data, detail, required,
                                                       nullptr))
                continue;
            // The path is used as text: it ends inside the block whatever the reply held.
            char* path = detail->DevicePath;
            path[required - pathAt - 1] = '\0';
            if (!MatchDevicePath(path, std::strlen(path), vendorId, productId, interfaceNumber))
                continue;
            device.Reset(DeviceLayer::OpenDevice(path, GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL));
            if (!device) continue;
            OpenSettingsKey(path, settingsKey.Receive());
            break;
        }
    }  // the interface list goes before the request lock is made
    if (device && settingsKey) {
        ioLock.Reset(CreateMutexA(nullptr, FALSE, nullptr));
        if (ioLock) return true;
    }
    Close();
    return false;
}

void DeviceChannel::Close() {
    settingsKey.Reset();
    device.Reset();
    ioLock.Reset();
}

bool DeviceChannel::IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                              DWORD* returned) {
    if (!device || !ioLock) return false;
    DWORD count = 0;
    WaitForSingleObject(ioLock.Get(), INFINITE);
    BOOL ok = DeviceLayer::IoControl(device.Get(), code, in, inSize, out, outSize, &count);
    ReleaseMutex(ioLock.Get());
    if (returned) *returned = count;
    return ok != FALSE;
}

bool DeviceChannel::GetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length,
                                 void* buffer) {
    if (!device || !buffer) return false;
    XuControlRequest request = RequestHead(XuDirectionRead, requestCode, selector, value, length);
    DWORD returned = 0;
    return IoControl(XuControlIoctl, &request, sizeof request, buffer, length, &returned) &&
           returned == length;
}

bool DeviceChannel::SetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length,
                                 const void* data) {
    if (!device) return false;
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

bool DeviceChannel::ReadSetting(const char* name, DWORD type, void* buffer, DWORD* size,
                                const void* fallback) {
    if (!buffer || !size) return false;
    if (settingsKey && name) {
        DWORD stored = REG_NONE;
        DWORD got = *size;
        // A REG_DWORD of fewer than 4 bytes (even none) would leave part of the buffer unread.
        if (RegQueryValueExA(settingsKey.Get(), name, nullptr, &stored, static_cast<BYTE*>(buffer),
                             &got) == ERROR_SUCCESS &&
            stored == type && (type != REG_DWORD || got == sizeof(DWORD))) {
            *size = got;
            return true;
        }
    }
    if (fallback) std::memcpy(buffer, fallback, *size);
    return false;
}

bool DeviceChannel::WriteSetting(const char* name, DWORD type, const void* data, DWORD size) {
    if (!settingsKey || !name || (size != 0 && !data)) return false;
    return RegSetValueExA(settingsKey.Get(), name, 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
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

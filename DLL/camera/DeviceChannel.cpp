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

class KeyOwner {
public:
    KeyOwner() = default;
    ~KeyOwner() {
        if (key_) RegCloseKey(key_);
    }
    KeyOwner(const KeyOwner&) = delete;
    KeyOwner& operator=(const KeyOwner&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }
    HKEY release() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }

private:
    HKEY key_ = nullptr;
};

bool OpenKey(HKEY parent, const char* path, REGSAM access, KeyOwner& key) {
    return RegOpenKeyExA(parent, path, 0, access, key.out()) == ERROR_SUCCESS;
}

class DetailOwner {
public:
    explicit DetailOwner(SIZE_T size) : block_(DeviceLayer::AllocBlock(size)) {}
    ~DetailOwner() { DeviceLayer::FreeBlock(block_); }
    DetailOwner(const DetailOwner&) = delete;
    DetailOwner& operator=(const DetailOwner&) = delete;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* get() const {
        return static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block_);
    }

private:
    void* block_;
};

}  // namespace

DeviceChannel::DeviceChannel() : device(INVALID_HANDLE_VALUE), ioLock(nullptr), settingsKey(nullptr) {}

DeviceChannel::~DeviceChannel() { Close(); }

bool DeviceChannel::IsOpen() const {
    return device != INVALID_HANDLE_VALUE && settingsKey != nullptr;
}

bool DeviceChannel::Open(const GUID& interfaceClass, unsigned short vendorId,
                         unsigned short productId, unsigned short interfaceNumber) {
    Close();
    HDEVINFO list =
        DeviceLayer::GetClassDevs(&interfaceClass, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list != INVALID_HANDLE_VALUE) {
        for (DWORD index = 0; index <= MaxInterfaceIndex; ++index) {
            SP_DEVICE_INTERFACE_DATA data = {};
            data.cbSize = sizeof data;
            if (!DeviceLayer::EnumDeviceInterfaces(list, &interfaceClass, index, &data)) continue;
            DWORD required = 0;
            DeviceLayer::GetDeviceInterfaceDetail(list, &data, nullptr, 0, &required);
            const DWORD pathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
            if (required <= pathAt) continue;
            DetailOwner detail(required);
            if (!detail.get()) continue;
            detail.get()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!DeviceLayer::GetDeviceInterfaceDetail(list, &data, detail.get(), required,
                                                       nullptr))
                continue;
            // The path is used as text: it ends inside the block whatever the reply held.
            char* path = detail.get()->DevicePath;
            path[required - pathAt - 1] = '\0';
            if (!MatchDevicePath(path, std::strlen(path), vendorId, productId, interfaceNumber))
                continue;
            device = DeviceLayer::OpenDevice(path, GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL);
            if (device == INVALID_HANDLE_VALUE) continue;
            OpenSettingsKey(path, &settingsKey);
            break;
        }
        DeviceLayer::DestroyDeviceInfoList(list);
    }
    if (device != INVALID_HANDLE_VALUE && settingsKey) {
        ioLock = CreateMutexA(nullptr, FALSE, nullptr);
        if (ioLock) return true;
    }
    Close();
    return false;
}

void DeviceChannel::Close() {
    if (settingsKey) {
        RegCloseKey(settingsKey);
        settingsKey = nullptr;
    }
    if (device != INVALID_HANDLE_VALUE) {
        DeviceLayer::CloseDevice(device);
        device = INVALID_HANDLE_VALUE;
    }
    if (ioLock) {
        CloseHandle(ioLock);
        ioLock = nullptr;
    }
}

bool DeviceChannel::IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                              DWORD* returned) {
    if (device == INVALID_HANDLE_VALUE || !ioLock) return false;
    DWORD count = 0;
    WaitForSingleObject(ioLock, INFINITE);
    BOOL ok = DeviceLayer::IoControl(device, code, in, inSize, out, outSize, &count);
    ReleaseMutex(ioLock);
    if (returned) *returned = count;
    return ok != FALSE;
}

bool DeviceChannel::GetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length,
                                 void* buffer) {
    if (device == INVALID_HANDLE_VALUE || !buffer) return false;
    XuControlRequest request = {};
    request.Direction = XuDirectionRead;
    request.RequestCode = requestCode;
    request.Selector = selector;
    request.DataLength = length;
    request.ControlValue = value;
    DWORD returned = 0;
    return IoControl(XuControlIoctl, &request, sizeof request, buffer, length, &returned) &&
           returned == length;
}

bool DeviceChannel::SetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length,
                                 const void* data) {
    if (device == INVALID_HANDLE_VALUE) return false;
    // Without data there is nothing to copy behind the header.
    if (length != 0 && !data) return false;
    DWORD size = length == 0 ? sizeof(XuControlRequest) : XuControlHeaderSize + length;
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[size]());
    if (!bytes) return false;
    XuControlRequest head = {};
    head.Direction = XuDirectionWrite;
    head.RequestCode = requestCode;
    head.Selector = selector;
    head.DataLength = length;
    head.ControlValue = value;
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
        if (RegQueryValueExA(settingsKey, name, nullptr, &stored, static_cast<BYTE*>(buffer),
                             &got) == ERROR_SUCCESS &&
            stored == type) {
            *size = got;
            return true;
        }
    }
    if (fallback) std::memcpy(buffer, fallback, *size);
    return false;
}

bool DeviceChannel::WriteSetting(const char* name, DWORD type, const void* data, DWORD size) {
    if (!settingsKey || !name || (size != 0 && !data)) return false;
    return RegSetValueExA(settingsKey, name, 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

bool OpenSettingsKey(const char* devicePath, HKEY* key) {
    std::string id;
    if (!devicePath || !key || !DeviceInstanceId(devicePath, std::strlen(devicePath), &id))
        return false;

    std::vector<char> driver;
    {
        KeyOwner enumKey, instanceKey;
        if (!OpenKey(HKEY_LOCAL_MACHINE, EnumKeyPath, KEY_READ, enumKey) ||
            !OpenKey(enumKey.get(), id.c_str(), KEY_READ, instanceKey))
            return false;
        DWORD size = 0;
        if (RegQueryValueExA(instanceKey.get(), "Driver", nullptr, nullptr, nullptr, &size) !=
                ERROR_SUCCESS ||
            size == 0)
            return false;
        driver.assign(size + 1, '\0');
        if (RegQueryValueExA(instanceKey.get(), "Driver", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(driver.data()), &size) != ERROR_SUCCESS)
            return false;
        driver[size < driver.size() ? size : driver.size() - 1] = '\0';
    }
    // An empty name would open the Class key itself.
    if (driver[0] == '\0') return false;

    KeyOwner classKey, driverKey, settings;
    if (!OpenKey(HKEY_LOCAL_MACHINE, ClassKeyPath, KEY_READ, classKey) ||
        !OpenKey(classKey.get(), driver.data(), KEY_READ, driverKey) ||
        !OpenKey(driverKey.get(), "Settings", KEY_ALL_ACCESS, settings))
        return false;
    *key = settings.release();
    return true;
}

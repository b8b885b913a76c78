#pragma once
// The process's one connection to the camera driver: capture interface, request lock, and the
// driver instance's "Settings" key.
#include <windows.h>

#include "Common/Owners.h"
#include "DLL/camera/DeviceLayer.h"

class DeviceChannel {
public:
    DeviceChannel();
    ~DeviceChannel();
    DeviceChannel(const DeviceChannel&) = delete;
    DeviceChannel& operator=(const DeviceChannel&) = delete;

    // Opens the first present interface of the class whose path carries the IDs (interfaceNumber
    // 256 or more: a device not split into functions), then its Settings key. Closes first.
    bool Open(const GUID& interfaceClass, unsigned short vendorId, unsigned short productId,
              unsigned short interfaceNumber);
    void Close();
    bool IsOpen() const;

    // One DeviceIoControl under the request lock.
    bool IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    // Read request: true when exactly length bytes came back into buffer.
    bool GetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length, void* buffer);
    // Write request: true when the driver took it and reported exactly length bytes.
    bool SetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length, const void* data);

    // On false the fallback's *size bytes are copied into buffer and *size is left unchanged.
    // A REG_DWORD counts as read only when it holds exactly 4 bytes.
    bool ReadSetting(const char* name, DWORD type, void* buffer, DWORD* size, const void* fallback);
    bool WriteSetting(const char* name, DWORD type, const void* data, DWORD size);

private:
    DeviceLayer::Device device;
    KernelHandle ioLock;
    RegistryKey settingsKey;
};

// Opens the Settings key of the driver instance behind a "\\?\usb#...#...#{...}" device path.
// On failure *key is left untouched and nothing stays open.
bool OpenSettingsKey(const char* devicePath, HKEY* key);

extern DeviceChannel TheDeviceChannel;

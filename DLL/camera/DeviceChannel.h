#pragma once
// The process's one connection to the camera driver: capture interface, request lock, and the
// driver instance's "Settings" key.
#include <windows.h>

#include <string>

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
    // Opened and not closed since, even while the camera is out: a channel that once reached it
    // looks for it again on its next request.
    bool IsOpen() const;

    // One DeviceIoControl under the request lock. When the camera turns out to be gone, the same
    // camera's interface is opened again, once, and a request that found it gone is sent once more.
    bool IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    // How often the channel found its camera again after it was gone.
    LONG Reconnections() const;
    // Read request: true when exactly length bytes came back into buffer.
    bool GetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length, void* buffer);
    // Write request: true when the driver took it and reported exactly length bytes.
    bool SetXuControl(BYTE requestCode, WORD selector, WORD value, WORD length, const void* data);

    // On false the fallback's *size bytes are copied into buffer and *size is left unchanged.
    // A REG_DWORD counts as read only when it holds exactly 4 bytes. A Settings key deleted under
    // the channel is looked up again through the device path, once per call.
    bool ReadSetting(const char* name, DWORD type, void* buffer, DWORD* size, const void* fallback);
    bool WriteSetting(const char* name, DWORD type, const void* data, DWORD size);

private:
    // The interface this channel was opened on, found again by the same walk; under ioLock.
    bool Reopen();
    // Runs a registry call on the Settings key; one that finds the key deleted runs once more on
    // the key looked up again.
    template <typename Call>
    LONG OnSettingsKey(Call call);

    DeviceLayer::Device device;
    KernelHandle ioLock;
    RegistryKey settingsKey;
    // Readers of settingsKey share it; only a key looked up again takes it alone.
    SRWLOCK keyLock = SRWLOCK_INIT;
    // What Open was given and found, for Reopen and the Settings key's lookup.
    GUID openedClass = {};
    unsigned short openedVendor = 0, openedProduct = 0, openedInterface = 0;
    std::string devicePath;
    volatile LONG reconnections = 0;
};

// Opens the Settings key of the driver instance behind a "\\?\usb#...#...#{...}" device path.
// On failure *key is left untouched and nothing stays open.
bool OpenSettingsKey(const char* devicePath, HKEY* key);

extern DeviceChannel TheDeviceChannel;

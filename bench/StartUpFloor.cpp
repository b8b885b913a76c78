#include "bench/StartUpFloor.h"

#include <algorithm>
#include <cstring>

#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DeviceChannel.h"
#include "DLL/camera/DevicePath.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/camera/UsbLayouts.h"
#include "DLL/props/KOVALTIX.h"
#include "DLL/props/PropertyTable.h"

void ChannelFloor::OpenSettings() {
    HKEY enumKey = nullptr, instanceKey = nullptr, classKey = nullptr, driverKey = nullptr;
    settings = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum", 0, KEY_READ, &enumKey);
    RegOpenKeyExA(enumKey, instanceId.c_str(), 0, KEY_READ, &instanceKey);
    char driver[256] = "";
    DWORD size = 0;
    RegQueryValueExA(instanceKey, "Driver", nullptr, nullptr, nullptr, &size);
    size = std::min<DWORD>(size, sizeof driver - 1);
    RegQueryValueExA(instanceKey, "Driver", nullptr, nullptr, reinterpret_cast<BYTE*>(driver),
                     &size);
    RegCloseKey(instanceKey);
    RegCloseKey(enumKey);
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Class", 0, KEY_READ,
                  &classKey);
    RegOpenKeyExA(classKey, driver, 0, KEY_READ, &driverKey);
    RegOpenKeyExA(driverKey, "Settings", 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &settings);
    RegCloseKey(driverKey);
    RegCloseKey(classKey);
}

void ChannelFloor::Load() {
    lock = CreateMutexA(nullptr, FALSE, nullptr);
    for (const std::string& name : names) {
        DWORD type = REG_NONE, value = 0, size = sizeof value;
        RegQueryValueExA(settings, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size);
    }
}

bool RecordStartUp(HMODULE module, RecordedStartUp* run, std::string* why) {
    ShutDown();
    std::memset(ExtensionPropertyTable, 0, sizeof ExtensionPropertyTable);
    DeviceTrace::Start();
    StartUp(module);
    const bool opened = TheDeviceChannel.IsOpen();
    ShutDown();
    run->replay = DeviceTrace::Replay(DeviceTrace::Stop());
    if (!opened) {
        *why = "start-up did not find the camera";
        return false;
    }
    const auto& events = run->replay.Events();
    const std::size_t none = events.size();
    std::size_t interfaceOpen = none, listDestroyed = none, channelClose = none;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const DeviceTrace::Event& e = events[i];
        switch (e.call) {
        case DeviceTrace::Call::Open:
            ++run->opens;
            // Capture interfaces are the "\\?\" paths; the last one opened is the channel's.
            if (e.path.compare(0, 4, "\\\\?\\") == 0) {
                interfaceOpen = i;
                run->devicePath = e.path;
            }
            break;
        case DeviceTrace::Call::IoControl:
            ++run->requests;
            break;
        case DeviceTrace::Call::Alloc:
            ++run->blocks;
            break;
        case DeviceTrace::Call::DestroyList:
            listDestroyed = i;
            ++run->other;
            break;
        case DeviceTrace::Call::Close:
            if (interfaceOpen != none && e.object == static_cast<int>(interfaceOpen))
                channelClose = i;
            ++run->other;
            break;
        default:
            ++run->other;
            break;
        }
    }
    if (interfaceOpen == none || listDestroyed == none || channelClose == none ||
        !DeviceInstanceId(run->devicePath.c_str(), run->devicePath.size(),
                          &run->channel.instanceId)) {
        *why = "the recorded start-up did not open and close the channel";
        return false;
    }
    run->interfaceOpen = interfaceOpen;
    run->listDestroyed = listDestroyed;
    run->channelClose = channelClose;
    run->channel.names.clear();
    for (const PropertyInfo& info : PropertyInfoTable) {
        run->channel.names.push_back(std::string(info.baseName) + "Enb");
        run->channel.names.push_back(std::string(info.baseName) + "Def");
        run->channel.names.push_back(info.baseName);
    }
    return true;
}

Figures MeasureStartUp(HMODULE module, RecordedStartUp& run) {
    auto library = [&] {
        return Time([&] {
            StartUp(module);
            ShutDown();
        });
    };
    ChannelFloor& channel = run.channel;
    auto floor = [&] {
        return Time([&] {
            RegisterWindowMessageA("KOVALTIX_UPDATEPORPERTY");
            run.replay.Run(
                [&](std::size_t i) {
                    if (i == run.channelClose) RegCloseKey(channel.settings);
                },
                [&](std::size_t i) {
                    if (i == run.interfaceOpen)
                        channel.OpenSettings();
                    else if (i == run.listDestroyed)
                        channel.Load();
                    else if (i == run.channelClose)
                        CloseHandle(channel.lock);
                });
        });
    };
    return Measure(8, 3, library, floor);
}

Figures MeasureSetFlip(int batch, int warmup, const std::function<double(long)>& floor,
                       int* refused) {
    KOVALTIX control;
    long next = 1;
    auto library = [&] {
        const long value = next;
        next ^= 1;
        return Time([&] {
            if (!control.Set_Flip(value)) ++*refused;
        });
    };
    auto bare = [&] {
        const long value = next;
        next ^= 1;
        return floor(value);
    };
    return Measure(batch, warmup, library, bare);
}

double TimeWriteFloor(HANDLE lock, HANDLE device, HKEY settings, int index, long value) {
    const PropertyInfo& info = PropertyInfoTable[index];
    return Time([&] {
        XuControlRequest request = {};
        request.Direction = XuDirectionWrite;
        request.RequestCode = XuSetRequestCode;
        request.Selector = info.selector;
        request.ControlValue = static_cast<USHORT>(value & 0xFFFF);
        DWORD returned = 0;
        WaitForSingleObject(lock, INFINITE);
        DeviceLayer::IoControl(device, XuControlIoctl, &request, sizeof request, nullptr, 0,
                               &returned);
        ReleaseMutex(lock);
        RegSetValueExA(settings, info.baseName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
    });
}

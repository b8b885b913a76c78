#include "DLL/camera/CameraIds.h"
#include "DLL/camera/CameraLocator.h"
#include "DLL/camera/DeviceChannel.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/camera/UsbLayouts.h"
#include "DLL/props/PropertyTable.h"

namespace {

// A camera whose descriptor set stays missing or unusable is found again on every pass;
// a few retries cover a slow device, and then start-up gives up.
constexpr int MaxStartUpPasses = 4;

void LoadProperty(int index) {
    const PropertyInfo& info = PropertyInfoTable[index];
    PROPDATA& record = ExtensionPropertyTable[index];
    char name[64];
    DWORD size;

    record.Min = info.min;
    record.Max = info.max;
    wsprintfA(name, "%sEnb", info.baseName);
    size = sizeof(record.Enb);
    TheDeviceChannel.ReadSetting(name, REG_DWORD, &record.Enb, &size, &info.fallbackEnb);
    wsprintfA(name, "%sDef", info.baseName);
    size = sizeof(record.Def);
    TheDeviceChannel.ReadSetting(name, REG_DWORD, &record.Def, &size, &info.fallbackDef);
    const long def = record.Def;
    size = sizeof(record.Value);
    TheDeviceChannel.ReadSetting(info.baseName, REG_DWORD, &record.Value, &size, &def);
    if (record.Value < record.Min || record.Value > record.Max) record.Value = record.Def;
}

// One pass: true when it reached a final state (loaded, or definitely no camera).
bool RunPass() {
    // The two blocks FindCamera hands over are freed on every path.
    DeviceLayer::Block connectionInfo, descriptors;
    if (!FindCamera(&connectionInfo, &descriptors)) return true;
    DWORD powerLineFlag = 0;
    if (!connectionInfo || !descriptors || !ScanProcessingUnit(descriptors.Get(), &powerLineFlag))
        return false;

    if (!TheDeviceChannel.Open(KsCategoryCapture, CameraVendorId,
                               ConnectionProductId(connectionInfo.Get()), CameraInterfaceNumber))
        return true;

    for (int i = 0; i < PropertyCount; ++i) LoadProperty(i);
    // The camera's standard processing unit already offers power-line frequency.
    if (powerLineFlag) ExtensionPropertyTable[PropPowerLine].Enb = 0;
    return true;
}

}  // namespace

void StartUp(HMODULE module) {
    KovaltixModule = module;
    UpdateMessage = RegisterWindowMessageA("KOVALTIX_UPDATEPORPERTY");
    for (int pass = 0; pass < MaxStartUpPasses; ++pass) {
        if (RunPass()) break;
    }
}

void ShutDown() { TheDeviceChannel.Close(); }

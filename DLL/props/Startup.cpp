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

// A stored REG_DWORD, or null when it is absent or unusable.
const int32_t* Stored(const char* name, int32_t* value) {
    DWORD size = sizeof *value;
    const int32_t none = 0;
    return TheDeviceChannel.ReadSetting(name, REG_DWORD, value, &size, &none) ? value : nullptr;
}

void LoadProperty(int index) {
    const PropertyInfo& info = PropertyInfoTable[index];
    char name[64];
    int32_t enb, def, value;
    wsprintfA(name, "%sEnb", info.baseName);
    const int32_t* storedEnb = Stored(name, &enb);
    wsprintfA(name, "%sDef", info.baseName);
    const int32_t* storedDef = Stored(name, &def);
    const int32_t* storedValue = Stored(info.baseName, &value);
    const ControlState state = ResolveControl(index, storedEnb, storedDef, storedValue);
    PROPDATA& record = ExtensionPropertyTable[index];
    record.Min = info.min;
    record.Max = info.max;
    record.Enb = state.enb;
    record.Def = state.def;
    record.Value = state.value;
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

void ReloadStoredValues() {
    for (int i = 0; i < PropertyCount; ++i) {
        PROPDATA& record = ExtensionPropertyTable[i];
        const int32_t enb = record.Enb, def = record.Def;
        int32_t value;
        record.Value =
            ResolveControl(i, &enb, &def, Stored(PropertyInfoTable[i].baseName, &value)).value;
    }
}

void StartUp(HMODULE module) {
    KovaltixModule = module;
    UpdateMessage = RegisterWindowMessageA("KOVALTIX_UPDATEPORPERTY");
    for (int pass = 0; pass < MaxStartUpPasses; ++pass) {
        if (RunPass()) break;
    }
}

void ShutDown() { TheDeviceChannel.Close(); }

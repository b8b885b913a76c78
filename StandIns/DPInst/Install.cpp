// Windows' device installation of a driver package's model on a device, done with SetupAPI's
// section calls. Wine 8.0's own (UpdateDriverForPlugAndPlayDevices) looks only for a models
// section decorated with the architecture alone: for one decorated with an OS version, as
// Windows 10 packages are, it reports success having installed nothing. It also ignores Include
// and Needs. As Windows does it: the driver files; the install section into the driver key, .HW
// into the device key, .Services, .Interfaces (each interface made for the device, its AddReg
// into the interface's key); for each of them first the sections it Needs from the INFs it
// Includes; and the driver key records the package.
#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Common/Owners.h"
#include "StandIns/DPInst/Package.h"

namespace {

struct Device {
    HINF inf;
    HDEVINFO list;
    SP_DEVINFO_DATA* data;
    std::string source;  // the package's folder
    void* copyContext;
};

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int chars =
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(chars > 0 ? chars - 1 : 0);
    return wide;
}

// Wine 8.0 appends to a list (FLG_ADDREG_APPEND) only where the value exists; Windows makes an
// absent one. An empty list put there first lets Wine's append do the rest.
void MakeAppendedListsExist(HINF inf, const std::string& section, HKEY key) {
    for (const std::string& addReg : Fields(inf, section, "AddReg")) {
        INFCONTEXT line;
        if (!SetupFindFirstLineA(inf, addReg.c_str(), nullptr, &line)) continue;
        do {
            INT flags = 0;
            if (!EqualNoCase(Field(&line, 1), "HKR") || !SetupGetIntField(&line, 4, &flags) ||
                !(flags & FLG_ADDREG_APPEND) ||
                (flags & FLG_ADDREG_TYPE_MASK) != FLG_ADDREG_TYPE_MULTI_SZ)
                continue;
            HKEY opened = nullptr;
            if (RegCreateKeyExA(key, Field(&line, 2).c_str(), 0, nullptr, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &opened,
                                nullptr) != ERROR_SUCCESS)
                continue;
            const RegistryKey target(opened);
            const std::wstring name = Wide(Field(&line, 3));
            if (RegQueryValueExW(target.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                ERROR_FILE_NOT_FOUND)
                RegSetValueExW(target.Get(), name.c_str(), 0, REG_MULTI_SZ,
                               reinterpret_cast<const BYTE*>(L""), sizeof(WCHAR));
        } while (SetupFindNextLine(&line, &line));
    }
}

// A section's registry entries, HKR being `key`.
bool InstallRegistry(const Device& device, const std::string& section, HKEY key) {
    MakeAppendedListsExist(device.inf, section, key);
    return SetupInstallFromInfSectionA(nullptr, device.inf, section.c_str(),
                                       SPINST_REGISTRY | SPINST_INI2REG | SPINST_BITREG, key,
                                       nullptr, 0, nullptr, nullptr, device.list,
                                       device.data) != FALSE;
}

// HKR being the device's driver key (DIREG_DRV) or its device key (DIREG_DEV).
bool InstallIntoDeviceKey(const Device& device, const std::string& section, DWORD keyType) {
    HKEY opened = SetupDiCreateDevRegKeyA(device.list, device.data, DICS_FLAG_GLOBAL, 0, keyType,
                                          nullptr, nullptr);
    if (opened == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return false;
    const RegistryKey key(opened);
    return InstallRegistry(device, section, key.Get());
}

// An install section: its files, then its registry entries into the driver key. Files already
// there in the same or a newer version stay.
bool InstallDriverSection(const Device& device, const std::string& section) {
    return SetupInstallFromInfSectionA(nullptr, device.inf, section.c_str(), SPINST_FILES, nullptr,
                                       device.source.c_str(), SP_COPY_NEWER_ONLY,
                                       SetupDefaultQueueCallbackA, device.copyContext, device.list,
                                       device.data) &&
           InstallIntoDeviceKey(device, section, DIREG_DRV);
}

// A services section's services; the one added as the device's function service
// (SPSVCINST_ASSOCSERVICE) becomes the device's service.
bool InstallServices(const Device& device, const std::string& section) {
    if (!SetupInstallServicesFromInfSectionA(device.inf, section.c_str(), 0)) return false;
    INFCONTEXT line;
    if (!SetupFindFirstLineA(device.inf, section.c_str(), "AddService", &line)) return true;
    do {
        INT flags = 0;
        const std::string name = Field(&line, 1);
        if (!SetupGetIntField(&line, 2, &flags) || !(flags & SPSVCINST_ASSOCSERVICE)) continue;
        if (!SetupDiSetDeviceRegistryPropertyA(device.list, device.data, SPDRP_SERVICE,
                                               reinterpret_cast<const BYTE*>(name.c_str()),
                                               static_cast<DWORD>(name.size() + 1)))
            return false;
    } while (SetupFindNextMatchLineA(&line, "AddService", &line));
    return true;
}

// AddInterface=<category>,<reference string>,<add-interface section>: the interface made for the
// device, the section's AddReg into the interface's own key (SetupDiOpenDeviceInterfaceRegKey's).
bool InstallInterfaces(const Device& device, const std::string& section) {
    INFCONTEXT line;
    if (!SetupFindFirstLineA(device.inf, section.c_str(), "AddInterface", &line)) return true;
    bool done = true;
    do {
        const std::string reference = Field(&line, 2), addSection = Field(&line, 3);
        GUID category;
        SP_DEVICE_INTERFACE_DATA entry = {};
        entry.cbSize = sizeof entry;
        if (CLSIDFromString(Wide(Field(&line, 1)).c_str(), &category) != NOERROR ||
            !SetupDiCreateDeviceInterfaceA(device.list, device.data, &category,
                                           reference.empty() ? nullptr : reference.c_str(), 0,
                                           &entry)) {
            done = false;
            continue;
        }
        if (addSection.empty()) continue;
        HKEY opened = SetupDiCreateDeviceInterfaceRegKeyA(device.list, &entry, 0, KEY_ALL_ACCESS,
                                                          nullptr, nullptr);
        if (opened == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
            done = false;
            continue;
        }
        const RegistryKey key(opened);
        done = InstallRegistry(device, addSection, key.Get()) && done;
    } while (SetupFindNextMatchLineA(&line, "AddInterface", &line));
    return done;
}

bool InstallSection(const Device& device, const std::string& section, const std::string& kind) {
    if (kind.empty()) return InstallDriverSection(device, section);
    if (kind == ".HW") return InstallIntoDeviceKey(device, section, DIREG_DEV);
    if (kind == ".Services") return InstallServices(device, section);
    return InstallInterfaces(device, section);
}

// What Windows records of the installed driver in its key; the uninstall finds it by InfPath.
bool RecordDriver(const Device& device, const std::string& storedName, const Model& model) {
    HKEY opened = SetupDiCreateDevRegKeyA(device.list, device.data, DICS_FLAG_GLOBAL, 0, DIREG_DRV,
                                          nullptr, nullptr);
    if (opened == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return false;
    const RegistryKey key(opened);
    INFCONTEXT provider, version;
    std::string date, number;
    if (SetupFindFirstLineA(device.inf, "Version", "DriverVer", &version)) {
        date = Field(&version, 1);
        number = Field(&version, 2);
        for (char& c : date) c = c == '/' ? '-' : c;
    }
    const std::pair<const char*, std::string> values[] = {
        {"InfPath", storedName},
        {"InfSection", model.name},
        {"InfSectionExt", model.section.substr(model.name.size())},
        {"MatchingDeviceId", model.hardwareId},
        {"DriverDesc", model.description},
        {"ProviderName", SetupFindFirstLineA(device.inf, "Version", "Provider", &provider)
                             ? Field(&provider, 1)
                             : ""},
        {"DriverDate", date},
        {"DriverVersion", number}};
    bool done = true;
    for (const auto& value : values)
        done = RegSetValueExA(key.Get(), value.first, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.second.c_str()),
                              static_cast<DWORD>(value.second.size() + 1)) == ERROR_SUCCESS &&
               done;
    return done;
}

// The device takes the package's class and the model's description; SetupAPI then makes its
// driver key under that class.
bool SetClass(const std::string& infPath, const std::string& instanceId, const Model& model) {
    GUID guid;
    char name[MAX_CLASS_NAME_LEN];
    WCHAR guidText[40];
    char guidTextA[40];
    const DeviceList list(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!list || !SetupDiOpenDeviceInfoA(list.Get(), instanceId.c_str(), nullptr, 0, &device) ||
        !SetupDiGetINFClassA(infPath.c_str(), &guid, name, sizeof name, nullptr) ||
        !StringFromGUID2(guid, guidText, 40) ||
        !WideCharToMultiByte(CP_ACP, 0, guidText, -1, guidTextA, sizeof guidTextA, nullptr,
                             nullptr))
        return false;
    const std::string texts[] = {guidTextA, name, model.description};
    const DWORD properties[] = {SPDRP_CLASSGUID, SPDRP_CLASS, SPDRP_DEVICEDESC};
    for (int i = 0; i < 3; ++i)
        if (!SetupDiSetDeviceRegistryPropertyA(list.Get(), &device, properties[i],
                                               reinterpret_cast<const BYTE*>(texts[i].c_str()),
                                               static_cast<DWORD>(texts[i].size() + 1)))
            return false;
    return true;
}

}  // namespace

bool InstallOnDevice(const std::string& infPath, const std::string& storedName, const Model& model,
                     const std::string& instanceId) {
    if (!SetClass(infPath, instanceId, model)) return false;
    const Inf inf(SetupOpenInfFileA(infPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    const DeviceList list(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    if (!inf || !list || !SetupDiOpenDeviceInfoA(list.Get(), instanceId.c_str(), nullptr, 0, &data))
        return false;
    const size_t slash = infPath.find_last_of("\\/");
    Device device = {inf.Get(), list.Get(), &data,
                     slash == std::string::npos ? "." : infPath.substr(0, slash),
                     SetupInitDefaultQueueCallbackEx(
                         nullptr, reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr)};
    bool done = device.copyContext != nullptr;
    std::vector<std::string> included;
    for (const std::string kind : {"", ".HW", ".Services", ".Interfaces"}) {
        const std::string own = model.section + kind;
        // A bare name is looked for where the platform keeps its INFs; each is read once.
        for (const std::string& include : Fields(inf.Get(), own, "Include")) {
            if (std::any_of(included.begin(), included.end(),
                            [&](const std::string& name) { return EqualNoCase(name, include); }))
                continue;
            done = SetupOpenAppendInfFileA(include.c_str(), inf.Get(), nullptr) && done;
            included.push_back(include);
        }
        // A needed section that none of the INFs has fails the installation.
        for (const std::string& needed : Fields(inf.Get(), own, "Needs"))
            done = SetupGetLineCountA(inf.Get(), needed.c_str()) >= 0 &&
                   InstallSection(device, needed, kind) && done;
        if (SetupGetLineCountA(inf.Get(), own.c_str()) >= 0)
            done = InstallSection(device, own, kind) && done;
        else if (kind.empty())
            done = false;
    }
    if (device.copyContext) SetupTermDefaultQueueCallback(device.copyContext);
    return RecordDriver(device, storedName, model) && done;
}

// Include and Needs, as Windows' device installation applies them (Wine 8.0's ignores both): the
// platform's INFs a device INF names are appended to it, and each section it needs from them is
// installed for the device, as the device INF's own section of the same kind would be.
#include <windows.h>
#include <setupapi.h>

#include "Common/Owners.h"
#include "StandIns/DPInst/Package.h"

namespace {

// A needed section's registry entries, HKR being the device's driver key (install section) or
// its device key (hardware section).
bool InstallRegistry(HINF inf, const std::string& section, DWORD keyType, HDEVINFO list,
                     SP_DEVINFO_DATA* device) {
    HKEY opened =
        SetupDiCreateDevRegKeyA(list, device, DICS_FLAG_GLOBAL, 0, keyType, nullptr, nullptr);
    if (opened == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return false;
    const RegistryKey key(opened);
    return SetupInstallFromInfSectionA(nullptr, inf, section.c_str(),
                                       SPINST_REGISTRY | SPINST_INI2REG | SPINST_BITREG, key.Get(),
                                       nullptr, 0, nullptr, nullptr, list, device) != FALSE;
}

// A needed services section's services; the one added as the device's function service
// (SPSVCINST_ASSOCSERVICE) becomes the device's service.
bool InstallServices(HINF inf, const std::string& section, HDEVINFO list, SP_DEVINFO_DATA* device) {
    if (!SetupInstallServicesFromInfSectionA(inf, section.c_str(), 0)) return false;
    INFCONTEXT line;
    if (!SetupFindFirstLineA(inf, section.c_str(), "AddService", &line)) return true;
    do {
        INT flags = 0;
        const std::string name = Field(&line, 1);
        if (!SetupGetIntField(&line, 2, &flags) || !(flags & SPSVCINST_ASSOCSERVICE)) continue;
        if (!SetupDiSetDeviceRegistryPropertyA(list, device, SPDRP_SERVICE,
                                               reinterpret_cast<const BYTE*>(name.c_str()),
                                               static_cast<DWORD>(name.size() + 1)))
            return false;
    } while (SetupFindNextMatchLineA(&line, "AddService", &line));
    return true;
}

}  // namespace

bool ApplyIncludesAndNeeds(const std::string& storedInf, const std::string& section, HDEVINFO list,
                           SP_DEVINFO_DATA* device) {
    const Inf inf(SetupOpenInfFileA(storedInf.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf) return false;
    struct Kind {
        const char* suffix;
        DWORD keyType;  // 0: services
    };
    const Kind kinds[] = {{"", DIREG_DRV}, {".HW", DIREG_DEV}, {".Services", 0}};
    bool done = true;
    for (const Kind& kind : kinds) {
        const std::string own = section + kind.suffix;
        // A bare name is looked for where the platform keeps its INFs.
        for (const std::string& include : Fields(inf.Get(), own, "Include"))
            done = SetupOpenAppendInfFileA(include.c_str(), inf.Get(), nullptr) && done;
        for (const std::string& needed : Fields(inf.Get(), own, "Needs")) {
            if (SetupGetLineCountA(inf.Get(), needed.c_str()) < 0) {
                done = false;  // a needed section that none of the INFs has
                continue;
            }
            done = (kind.keyType ? InstallRegistry(inf.Get(), needed, kind.keyType, list, device)
                                 : InstallServices(inf.Get(), needed, list, device)) &&
                   done;
        }
    }
    return done;
}

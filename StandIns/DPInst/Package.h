#pragma once
// A driver package as the driver installer stand-in reads it from its INF: the models for this
// architecture, their install sections, the services those add and the files they copy.
#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "Common/Scoped.h"

struct InfTraits {
    using Value = HINF;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value inf) { SetupCloseInfFile(inf); }
};
using Inf = Scoped<InfTraits>;

struct DeviceListTraits {
    using Value = HDEVINFO;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value list) { SetupDiDestroyDeviceInfoList(list); }
};
using DeviceList = Scoped<DeviceListTraits>;

struct Model {
    std::string hardwareId;
    std::string section;  // decorated for this architecture, e.g. "Camera.NTamd64"
};

struct Package {
    std::vector<Model> models;
    std::vector<std::string> services;  // added by the package's own sections, not by Needs
    std::vector<std::string> files;     // full target paths
};

bool EqualNoCase(const std::string& a, const std::string& b);
std::string FileName(const std::string& path);
// Field `index` of an INF line, empty when there is none.
std::string Field(INFCONTEXT* line, DWORD index);
// Every field from the first on, of every line with that key in the section.
std::vector<std::string> Fields(HINF inf, const std::string& section, const char* key);

bool ReadPackage(const std::string& infPath, Package* package);
// The strings of a REG_MULTI_SZ device property (hardware IDs).
std::vector<std::string> MultiText(HDEVINFO list, SP_DEVINFO_DATA* device, DWORD property);

// What Windows' device installation does with a model's Include and Needs entries and Wine 8.0's
// does not: the sections a device INF needs from the platform's INFs are installed for the device
// (registry into its driver and device keys, services, the function service made the device's).
bool ApplyIncludesAndNeeds(const std::string& storedInf, const std::string& section, HDEVINFO list,
                           SP_DEVINFO_DATA* device);

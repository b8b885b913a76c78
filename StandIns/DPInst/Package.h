#pragma once
// A driver package as the driver installer stand-in reads it from its INF: the models for this
// platform, their install sections, the services those add and the files they copy.
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
    std::string description;  // the model line's name: the device's description
    std::string name;         // the install section as the model names it, e.g. "Camera"
    std::string section;      // decorated for this architecture, e.g. "Camera.NTamd64"
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

// The models section Windows reads for one [Manufacturer] line: the decoration that fits this
// platform most closely (architecture, then OS version: Windows 10, as the package asks, whatever
// Wine reports), else the undecorated section.
std::string ModelsSection(INFCONTEXT* maker);
bool ReadPackage(const std::string& infPath, Package* package);
// The strings of a REG_MULTI_SZ device property (hardware IDs).
std::vector<std::string> MultiText(HDEVINFO list, SP_DEVINFO_DATA* device, DWORD property);

// Windows' device installation of a model on one device (Install.cpp): the package's files and
// sections, with what they Include and Need; the driver key records the stored INF's name.
bool InstallOnDevice(const std::string& infPath, const std::string& storedName, const Model& model,
                     const std::string& instanceId);

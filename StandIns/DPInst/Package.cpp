#include "StandIns/DPInst/Package.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

#if defined(_WIN64)
const char Architecture[] = "amd64";
#else
const char Architecture[] = "x86";
#endif
// The Windows the tests stand for: 10.0 (22H2), a workstation with one interactive session. Wine
// 8.0 reports Windows 7 unless told otherwise, and the package is for Windows 10 version 1709
// (build 16299) or later.
const unsigned long PlatformVersion[] = {10, 0, 19045};
const unsigned long PlatformProductType = VER_NT_WORKSTATION;
const unsigned long PlatformSuites = VER_SUITE_SINGLEUSERTS;

struct Target {
    unsigned long version[3];  // major, minor, build: 0 where the decoration leaves one out
    bool architectureNamed;
};

// "NT[architecture][.major[.minor[.productType[.suiteMask[.build]]]]]", and whether it
// describes this platform.
bool Fits(const std::string& decoration, Target* target) {
    std::vector<std::string> parts(1);
    for (char c : decoration) {
        if (c == '.')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts.size() > 6 || parts[0].size() < 2 || _strnicmp(parts[0].c_str(), "NT", 2) != 0)
        return false;
    const std::string architecture = parts[0].substr(2);
    if (!architecture.empty() && !EqualNoCase(architecture, Architecture)) return false;
    const auto number = [&](size_t i, int base) {
        return i < parts.size() ? std::strtoul(parts[i].c_str(), nullptr, base) : 0UL;
    };
    *target = {{number(1, 10), number(2, 10), number(5, 10)}, !architecture.empty()};
    const unsigned long productType = number(3, 0), suites = number(4, 0);
    if ((productType && productType != PlatformProductType) || (suites & ~PlatformSuites))
        return false;
    return !std::lexicographical_compare(PlatformVersion, PlatformVersion + 3, target->version,
                                         target->version + 3);
}

// The closer of two fitting decorations: the higher version, then the one naming the
// architecture.
bool Closer(const Target& a, const Target& b) {
    if (!std::equal(a.version, a.version + 3, b.version))
        return std::lexicographical_compare(b.version, b.version + 3, a.version, a.version + 3);
    return a.architectureNamed && !b.architectureNamed;
}

void ReadInstallSection(HINF inf, const std::string& section, Package* package) {
    for (const std::string& service : Fields(inf, section + ".Services", "AddService"))
        package->services.push_back(service);
    INFCONTEXT line;
    if (!SetupFindFirstLineA(inf, section.c_str(), "CopyFiles", &line)) return;
    do {
        for (DWORD i = 1; i <= SetupGetFieldCount(&line); ++i) {
            const std::string copy = Field(&line, i);
            char folder[MAX_PATH];
            INFCONTEXT file;
            if (!SetupGetTargetPathA(inf, nullptr, copy.c_str(), folder, MAX_PATH, nullptr) ||
                !SetupFindFirstLineA(inf, copy.c_str(), nullptr, &file))
                continue;
            do package->files.push_back(std::string(folder) + "\\" + Field(&file, 1));
            while (SetupFindNextLine(&file, &file));
        }
    } while (SetupFindNextMatchLineA(&line, "CopyFiles", &line));
}

void Unique(std::vector<std::string>& v) {
    std::sort(v.begin(), v.end(), [](const std::string& a, const std::string& b) {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    });
    v.erase(std::unique(v.begin(), v.end(), EqualNoCase), v.end());
}

}  // namespace

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Field(INFCONTEXT* line, DWORD index) {
    char text[512];
    return SetupGetStringFieldA(line, index, text, sizeof text, nullptr) ? text : "";
}

std::vector<std::string> Fields(HINF inf, const std::string& section, const char* key) {
    std::vector<std::string> fields;
    INFCONTEXT line;
    if (!SetupFindFirstLineA(inf, section.c_str(), key, &line)) return fields;
    do {
        for (DWORD i = 1; i <= SetupGetFieldCount(&line); ++i) fields.push_back(Field(&line, i));
    } while (SetupFindNextMatchLineA(&line, key, &line));
    return fields;
}

std::string ModelsSection(INFCONTEXT* maker) {
    std::string closest;
    Target best = {}, target;
    for (DWORD i = 2; i <= SetupGetFieldCount(maker); ++i) {
        const std::string decoration = Field(maker, i);
        if (Fits(decoration, &target) && (closest.empty() || Closer(target, best))) {
            closest = decoration;
            best = target;
        }
    }
    return closest.empty() ? Field(maker, 1) : Field(maker, 1) + "." + closest;
}

bool ReadPackage(const std::string& infPath, Package* package) {
    const Inf inf(SetupOpenInfFileA(infPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    INFCONTEXT maker;
    if (!inf || !SetupFindFirstLineA(inf.Get(), "Manufacturer", nullptr, &maker)) return false;
    do {
        INFCONTEXT model;
        if (!SetupFindFirstLineA(inf.Get(), ModelsSection(&maker).c_str(), nullptr, &model))
            continue;
        do {
            const std::string name = Field(&model, 1);
            char section[256];
            if (!SetupDiGetActualSectionToInstallA(inf.Get(), name.c_str(), section, sizeof section,
                                                   nullptr, nullptr))
                continue;
            for (DWORD i = 2; i <= SetupGetFieldCount(&model); ++i)
                package->models.push_back({Field(&model, i), Field(&model, 0), name, section});
            ReadInstallSection(inf.Get(), section, package);
        } while (SetupFindNextLine(&model, &model));
    } while (SetupFindNextLine(&maker, &maker));
    Unique(package->services);
    Unique(package->files);
    return !package->models.empty();
}

std::vector<std::string> MultiText(HDEVINFO list, SP_DEVINFO_DATA* device, DWORD property) {
    char buffer[2048] = {};
    std::vector<std::string> texts;
    if (!SetupDiGetDeviceRegistryPropertyA(list, device, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           nullptr))
        return texts;
    for (const char* at = buffer; *at; at += std::strlen(at) + 1) texts.push_back(at);
    return texts;
}

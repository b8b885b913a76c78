#include "StandIns/DPInst/Package.h"

#include <algorithm>
#include <cstring>

namespace {

#if defined(_WIN64)
const char Decoration[] = "NTamd64";
#else
const char Decoration[] = "NTx86";
#endif

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

bool ReadPackage(const std::string& infPath, Package* package) {
    const Inf inf(SetupOpenInfFileA(infPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    INFCONTEXT maker;
    if (!inf || !SetupFindFirstLineA(inf.Get(), "Manufacturer", nullptr, &maker)) return false;
    do {
        std::string models = Field(&maker, 1);
        for (DWORD i = 2; i <= SetupGetFieldCount(&maker); ++i)
            if (EqualNoCase(Field(&maker, i), Decoration)) models += std::string(".") + Decoration;
        INFCONTEXT model;
        if (!SetupFindFirstLineA(inf.Get(), models.c_str(), nullptr, &model)) continue;
        do {
            char section[256];
            if (!SetupDiGetActualSectionToInstallA(inf.Get(), Field(&model, 1).c_str(), section,
                                                   sizeof section, nullptr, nullptr))
                continue;
            for (DWORD i = 2; i <= SetupGetFieldCount(&model); ++i)
                package->models.push_back({Field(&model, i), section});
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

#pragma once
// A machine with the standard virtual camera plugged in and its driver keys in Wine's registry
// (the Settings key empty), the library's attach handling run on demand, and what the camera
// and the registry saw since. The camera, props and page tests share it.
#include <windows.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "VirtualCamera/VirtualCamera.h"

// One write request as the driver saw it.
struct XuWrite {
    unsigned short selector;
    unsigned short value;
    bool operator==(const XuWrite& o) const { return selector == o.selector && value == o.value; }
};
using XuWrites = std::vector<XuWrite>;
std::ostream& operator<<(std::ostream& os, const XuWrite& w);

// Selectors of the vendor controls.
enum Selector : unsigned short {
    SelRed = 38,
    SelGreen = 39,
    SelBlue = 40,
    SelAutoWhiteBalance = 41,
    SelExposure = 42,
    SelAutoExposure = 43,
    SelGain = 44,
    SelAutoGain = 45,
    SelPowerLine = 46,
    SelFlip = 48,
    SelMirror = 49,
    SelPrivacy = 50,
    SelLowLight = 51,
};

// Zeroes the shared table and closes the channel, as in a freshly loaded library.
void ResetLibraryState();

class CameraScene {
public:
    // Registry values for the Settings key.
    using Settings = std::vector<std::pair<const char*, DWORD>>;

    explicit CameraScene(const vcam::StandardCameraOptions& options = {});
    // The standard camera with these values stored, and the library started over it.
    explicit CameraScene(const Settings& settings);
    ~CameraScene();
    CameraScene(const CameraScene&) = delete;
    CameraScene& operator=(const CameraScene&) = delete;

    // Detach, then the attach handling again on this program's module (which carries the page
    // resources); what was sent before no longer counts as seen.
    void RunStartUp();

    void Store(const Settings& settings);
    void StoreDword(const char* name, DWORD value);
    void StoreString(const char* name, const char* value);
    void DeleteValue(const char* name);
    // The REG_DWORD that landed in the Settings key; false when absent or of another type.
    bool StoredDword(const char* name, DWORD* value) const;
    // The same, -1 when absent.
    long Setting(const char* name) const;

    // Write requests the driver received since the last Mark, each checked to be a
    // well-formed write without data.
    XuWrites Writes() const;
    void Mark();
    // Writes of one selector since the last Mark, in order.
    std::vector<unsigned short> ValuesOf(unsigned short selector) const;

    vcam::StandardCamera camera;
    std::string settingsPath;

private:
    size_t requestsSeen = 0;
};

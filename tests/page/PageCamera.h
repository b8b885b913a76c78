#pragma once
// A plugged virtual camera with its registry keys, started up as the library does at load, and
// what the camera and the registry saw of the page's changes.
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

#include "VirtualCamera/VirtualCamera.h"

struct XuWrite {
    unsigned short selector;
    unsigned short value;
};

class PageCamera {
public:
    // Registry values written into the Settings key before start-up.
    using Settings = std::vector<std::pair<const char*, DWORD>>;

    explicit PageCamera(const Settings& settings = {});
    ~PageCamera();
    PageCamera(const PageCamera&) = delete;
    PageCamera& operator=(const PageCamera&) = delete;

    // Write requests the camera received since the last Mark (or since start-up).
    std::vector<XuWrite> Writes() const;
    void Mark();
    // Writes of one selector since the last Mark, in order.
    std::vector<unsigned short> ValuesOf(unsigned short selector) const;
    // A REG_DWORD of the Settings key; -1 when absent.
    long Setting(const char* name) const;

private:
    vcam::StandardCamera m_camera;
    std::string m_settingsPath;
    size_t m_mark;
};

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
    SelNightMode = 51,
};

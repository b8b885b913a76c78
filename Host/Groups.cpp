#include "Host/Groups.h"

#include <cstring>

#include "Host/SettingsFile.h"

namespace {

const ControlGroup Groups[] = {
    {"WhiteBalance",
     4,
     {"AWBEx", "WBRedEx", "WBGreenEx", "WBBlueEx"},
     [](KOVALTIX& c, PROPDATA* r) { return c.Get_WhiteBalance(&r[0], &r[1], &r[2], &r[3]); },
     [](KOVALTIX& c, const long* v) { return c.Set_WhiteBalance(v[0], v[1], v[2], v[3]); },
     [](KOVALTIX& c) { return c.Reset_WhiteBalance(); }},
    {"Exposure",
     2,
     {"AECEx", "ExposureEx"},
     [](KOVALTIX& c, PROPDATA* r) { return c.Get_Exposure(&r[0], &r[1]); },
     [](KOVALTIX& c, const long* v) { return c.Set_Exposure(v[0], v[1]); },
     [](KOVALTIX& c) { return c.Reset_Exposure(); }},
    {"Gain",
     2,
     {"AGCEx", "GainEx"},
     [](KOVALTIX& c, PROPDATA* r) { return c.Get_Gain(&r[0], &r[1]); },
     [](KOVALTIX& c, const long* v) { return c.Set_Gain(v[0], v[1]); },
     [](KOVALTIX& c) { return c.Reset_Gain(); }},
    {"PowerLine",
     1,
     {"PowerLineEx"},
     [](KOVALTIX& c, PROPDATA* r) { return c.Get_PowerLine(r); },
     [](KOVALTIX& c, const long* v) { return c.Set_PowerLine(v[0]); },
     [](KOVALTIX& c) { return c.Reset_PowerLine(); }},
    {"Flip",
     1,
     {"FlipEx"},
     [](KOVALTIX& c, PROPDATA* r) { return c.Get_Flip(r); },
     [](KOVALTIX& c, const long* v) { return c.Set_Flip(v[0]); },
     [](KOVALTIX& c) { return c.Reset_Flip(); }},
    {"Mirror",
     1,
     {"MirrorEx"},
     [](KOVALTIX& c, PROPDATA* r) { return c.Get_Mirror(r); },
     [](KOVALTIX& c, const long* v) { return c.Set_Mirror(v[0]); },
     [](KOVALTIX& c) { return c.Reset_Mirror(); }},
    {"PrivateMode",
     1,
     {"PrivacyEx"},
     [](KOVALTIX& c, PROPDATA* r) { return c.Get_PrivateMode(r); },
     [](KOVALTIX& c, const long* v) { return c.Set_PrivateMode(v[0]); },
     [](KOVALTIX& c) { return c.Reset_PrivateMode(); }},
    {"LowLightMode",
     1,
     {"NightModeEx"},
     [](KOVALTIX& c, PROPDATA* r) { return c.Get_LowLightMode(r); },
     [](KOVALTIX& c, const long* v) { return c.Set_LowLightMode(v[0]); },
     [](KOVALTIX& c) { return c.Reset_LowLightMode(); }},
};

}  // namespace

const ControlGroup* ControlGroups() { return Groups; }

int ControlGroupCount() { return static_cast<int>(sizeof(Groups) / sizeof(Groups[0])); }

const ControlGroup* FindControlGroup(const char* name) {
    if (!name) return nullptr;
    for (const ControlGroup& group : Groups) {
        if (lstrcmpiA(group.name, name) == 0) return &group;
    }
    return nullptr;
}

bool ParseLong(const char* text, long* value) {
    return text && ParseWholeNumber(text, std::strlen(text), value);
}

// No C++ runtime: this file also goes into a kernel-mode export driver.
#include "DLL/props/ControlTable.h"

extern "C" {

const PropertyInfo PropertyInfoTable[PropertyCount] = {
    {"AWBEx", 0, 1, 1, 1, 0x29},
    {"WBRedEx", 0, 255, 1, 127, 0x26},
    // Green alone falls back to disabled: the page offers no green slider.
    {"WBGreenEx", 0, 255, 0, 127, 0x27},
    {"WBBlueEx", 0, 255, 1, 127, 0x28},
    {"AECEx", 0, 1, 1, 1, 0x2B},
    {"ExposureEx", 1, 500, 1, 255, 0x2A},
    {"AGCEx", 0, 1, 1, 1, 0x2D},
    {"GainEx", 0, 127, 1, 63, 0x2C},
    {"PowerLineEx", 0, 2, 1, 2, 0x2E},
    {"FlipEx", 0, 1, 1, 0, 0x30},
    {"MirrorEx", 0, 1, 1, 0, 0x31},
    {"PrivacyEx", 0, 1, 1, 0, 0x32},
    {"NightModeEx", 0, 1, 1, 1, 0x33},
};

ControlState ResolveControl(int index, const int32_t* storedEnb, const int32_t* storedDef,
                            const int32_t* storedValue) {
    const PropertyInfo& info = PropertyInfoTable[index];
    ControlState state;
    state.enb = storedEnb ? *storedEnb : info.fallbackEnb;
    state.def = storedDef ? *storedDef : info.fallbackDef;
    // The default is taken as stored, unchecked: an out-of-range default still becomes the value.
    state.value = storedValue ? *storedValue : state.def;
    if (state.value < info.min || state.value > info.max) state.value = state.def;
    return state;
}

}  // extern "C"

#pragma once
/* The camera's 13 vendor controls, once: registry names, ranges, fallbacks and selectors, and
 * the rule that turns a control's three stored values into what it holds. The library loads its
 * records by it; the camera driver's request rule and its start-up apply read the same table
 * (the driver package builds this source too), so that the kernel carries exactly the controls
 * the library sends, and applies the stored values as the library would load them.
 * Plain C types: kernel and user-mode sources both include it. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Positions of the controls in the table, and in the library's records. */
enum PropertyIndex {
    PropAutoWhiteBalance,
    PropWhiteBalanceRed,
    PropWhiteBalanceGreen,
    PropWhiteBalanceBlue,
    PropAutoExposure,
    PropExposure,
    PropAutoGain,
    PropGain,
    PropPowerLine,
    PropFlip,
    PropMirror,
    PropPrivacy,
    PropLowLight,
    PropertyCount
};

/* Constants of one control: registry base name, range, fallbacks, camera selector. */
typedef struct PropertyInfo {
    const char* baseName;
    int32_t min;
    int32_t max;
    int32_t fallbackEnb;
    int32_t fallbackDef;
    uint16_t selector;
} PropertyInfo;

extern const PropertyInfo PropertyInfoTable[PropertyCount];

/* Request code of every vendor control write. */
#define XU_SET_REQUEST_CODE 0xC2

/* What one control comes to from its stored "<name>Enb", "<name>Def" and "<name>" values, each
 * null when absent or unusable: the table's fallbacks for the first two, the default for the
 * value itself, and the default again for a value outside the range. */
typedef struct ControlState {
    int32_t enb;
    int32_t def;
    int32_t value;
} ControlState;
ControlState ResolveControl(int index, const int32_t* storedEnb, const int32_t* storedDef,
                            const int32_t* storedValue);

#ifdef __cplusplus
}
#endif

#pragma once
#include <windows.h>
#include "DLL/props/KOVALTIX.h"

// Positions of the vendor controls in ExtensionPropertyTable.
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

// Constants of one control: registry base name, range, fallbacks, camera selector.
struct PropertyInfo {
    const char* baseName;
    long min;
    long max;
    long fallbackEnb;
    long fallbackDef;
    unsigned short selector;
};

extern const PropertyInfo PropertyInfoTable[PropertyCount];

// Shared by every object and the page, without locking; all zeros until start-up loads it.
extern PROPDATA ExtensionPropertyTable[PropertyCount];

// Left by start-up for the page: the library's module (resources) and the reload message.
extern HMODULE KovaltixModule;
extern UINT UpdateMessage;

// Request code of every vendor control write.
constexpr unsigned char XuSetRequestCode = 0xC2;

// Process-attach and process-detach handling of the library.
void StartUp(HMODULE module);
void ShutDown();

#include "DLL/camera/DeviceChannel.h"
#include "DLL/props/KOVALTIX.h"
#include "DLL/props/PropertyTable.h"

namespace {

const char InstanceMutexName[] = "KOVALTIX";

// Keeps the record, the camera and the registry telling the same story when host threads
// set the same control at once; the channel's own lock only keeps requests whole.
SRWLOCK ApplyLock = SRWLOCK_INIT;

class ApplyGuard {
public:
    ApplyGuard() { AcquireSRWLockExclusive(&ApplyLock); }
    ~ApplyGuard() { ReleaseSRWLockExclusive(&ApplyLock); }
    ApplyGuard(const ApplyGuard&) = delete;
    ApplyGuard& operator=(const ApplyGuard&) = delete;
};

// The channel's reconnections the records have followed; under the apply lock.
LONG FollowedReconnections = 0;

// A camera put back holds what its driver restored from the Settings key, whatever was set while
// it was out: once the channel has found it again, the records follow it, and so does the page.
// True when they did.
bool FollowCameraPutBack() {
    const LONG reconnections = TheDeviceChannel.Reconnections();
    if (reconnections == FollowedReconnections) return false;
    FollowedReconnections = reconnections;
    ReloadStoredValues();
    RefreshShownPage();
    return true;
}

// Stores v, sends its low 16 bits, and writes v back once the camera took it, whatever the
// record holds by then. A disabled control counts as done.
bool Apply(int index, long v) {
    PROPDATA& record = ExtensionPropertyTable[index];
    const PropertyInfo& info = PropertyInfoTable[index];
    if (record.Enb == 0) return true;
    ApplyGuard guard;
    record.Value = v;
    const bool taken = TheDeviceChannel.SetXuControl(XuSetRequestCode, info.selector,
                                                     static_cast<WORD>(v & 0xFFFF), 0, nullptr);
    if (FollowCameraPutBack() && taken) record.Value = v;
    if (!taken) return false;
    return TheDeviceChannel.WriteSetting(info.baseName, REG_DWORD, &v, sizeof(v));
}

// With the auto flag on, a manual control goes to its own default.
long ManualValue(long autoFlag, int index, long manual) {
    return autoFlag != 0 ? ExtensionPropertyTable[index].Def : manual;
}

long Def(int index) { return ExtensionPropertyTable[index].Def; }

bool CopyOut(PROPDATA* out, int index) {
    if (!out) return false;
    // The page reloads through Get_ into the records themselves, without the apply lock: a copy
    // onto itself could put back a value that another thread's Set_ stored in between.
    if (out != &ExtensionPropertyTable[index]) *out = ExtensionPropertyTable[index];
    return true;
}

}  // namespace

KOVALTIX::KOVALTIX() : instanceMutex(nullptr), pageWindow(nullptr), pageTemplate(nullptr) {
    if (TheDeviceChannel.IsOpen()) {
        instanceMutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, InstanceMutexName);
        if (!instanceMutex) {
            instanceMutex = CreateMutexA(nullptr, FALSE, InstanceMutexName);
            // Another process may create it between the two calls: then it is not ours.
            if (instanceMutex && GetLastError() != ERROR_ALREADY_EXISTS) return;
        }
    }
    Invalidate();
}

KOVALTIX::~KOVALTIX() { Invalidate(); }

void KOVALTIX::Invalidate() {
    if (pageWindow) {
        // The page's close handling destroys it and clears the record, on the page's thread.
        SendMessageA(pageWindow, WM_CLOSE, 0, 0);
        if (pageWindow && !IsWindow(pageWindow)) pageWindow = nullptr;
    }
    if (instanceMutex) {
        CloseHandle(instanceMutex);
        instanceMutex = nullptr;
    }
}

KOVALTIX& KOVALTIX::operator=(const KOVALTIX& other) {
    if (this == &other) return *this;
    // The source keeps its marker and page; the copy gives up its own and becomes inert.
    Invalidate();
    pageTemplate = other.pageTemplate;
    return *this;
}

bool KOVALTIX::Get_WhiteBalance(PROPDATA* autoFlag, PROPDATA* red, PROPDATA* green,
                                PROPDATA* blue) {
    if (!autoFlag || !red || !green || !blue) return false;
    CopyOut(autoFlag, PropAutoWhiteBalance);
    CopyOut(red, PropWhiteBalanceRed);
    CopyOut(green, PropWhiteBalanceGreen);
    return CopyOut(blue, PropWhiteBalanceBlue);
}

bool KOVALTIX::Set_WhiteBalance(long autoFlag, long red, long green, long blue) {
    bool ok = Apply(PropAutoWhiteBalance, autoFlag);
    ok &= Apply(PropWhiteBalanceRed, ManualValue(autoFlag, PropWhiteBalanceRed, red));
    ok &= Apply(PropWhiteBalanceGreen, ManualValue(autoFlag, PropWhiteBalanceGreen, green));
    ok &= Apply(PropWhiteBalanceBlue, ManualValue(autoFlag, PropWhiteBalanceBlue, blue));
    return ok;
}

bool KOVALTIX::Reset_WhiteBalance() {
    return Set_WhiteBalance(Def(PropAutoWhiteBalance), Def(PropWhiteBalanceRed),
                            Def(PropWhiteBalanceGreen), Def(PropWhiteBalanceBlue));
}

bool KOVALTIX::Get_Exposure(PROPDATA* autoFlag, PROPDATA* exposure) {
    if (!autoFlag || !exposure) return false;
    CopyOut(autoFlag, PropAutoExposure);
    return CopyOut(exposure, PropExposure);
}

bool KOVALTIX::Set_Exposure(long autoFlag, long exposure) {
    bool ok = Apply(PropAutoExposure, autoFlag);
    ok &= Apply(PropExposure, ManualValue(autoFlag, PropExposure, exposure));
    return ok;
}

bool KOVALTIX::Reset_Exposure() { return Set_Exposure(Def(PropAutoExposure), Def(PropExposure)); }

bool KOVALTIX::Get_Gain(PROPDATA* autoFlag, PROPDATA* gain) {
    if (!autoFlag || !gain) return false;
    CopyOut(autoFlag, PropAutoGain);
    return CopyOut(gain, PropGain);
}

bool KOVALTIX::Set_Gain(long autoFlag, long gain) {
    bool ok = Apply(PropAutoGain, autoFlag);
    ok &= Apply(PropGain, ManualValue(autoFlag, PropGain, gain));
    return ok;
}

bool KOVALTIX::Reset_Gain() { return Set_Gain(Def(PropAutoGain), Def(PropGain)); }

bool KOVALTIX::Get_PowerLine(PROPDATA* powerLine) { return CopyOut(powerLine, PropPowerLine); }
bool KOVALTIX::Set_PowerLine(long powerLine) { return Apply(PropPowerLine, powerLine); }
bool KOVALTIX::Reset_PowerLine() { return Set_PowerLine(Def(PropPowerLine)); }

bool KOVALTIX::Get_Flip(PROPDATA* flip) { return CopyOut(flip, PropFlip); }
bool KOVALTIX::Set_Flip(long flip) { return Apply(PropFlip, flip); }
bool KOVALTIX::Reset_Flip() { return Set_Flip(Def(PropFlip)); }

bool KOVALTIX::Get_Mirror(PROPDATA* mirror) { return CopyOut(mirror, PropMirror); }
bool KOVALTIX::Set_Mirror(long mirror) { return Apply(PropMirror, mirror); }
bool KOVALTIX::Reset_Mirror() { return Set_Mirror(Def(PropMirror)); }

bool KOVALTIX::Get_PrivateMode(PROPDATA* privateMode) { return CopyOut(privateMode, PropPrivacy); }
bool KOVALTIX::Set_PrivateMode(long privateMode) { return Apply(PropPrivacy, privateMode); }
bool KOVALTIX::Reset_PrivateMode() { return Set_PrivateMode(Def(PropPrivacy)); }

bool KOVALTIX::Get_LowLightMode(PROPDATA* lowLight) { return CopyOut(lowLight, PropLowLight); }
bool KOVALTIX::Set_LowLightMode(long lowLight) { return Apply(PropLowLight, lowLight); }
bool KOVALTIX::Reset_LowLightMode() { return Set_LowLightMode(Def(PropLowLight)); }

#pragma once
// The one header a host program needs: include it and link KOVALTIX.dll (its import library).
//
// The library looks for the camera once, when it is loaded. Without a camera, or without the
// camera's driver, it stays loaded but inert: every Get_ returns true with all five fields 0,
// every Set_ and Reset_ returns true and sends nothing, and CreateExtensionPropDialog returns
// null. A host tells "no camera" by every control's Enb being 0. The SDK's development build
// (bin/dev/KOVALTIX.dll, same exports) plays a camera of its own: put it beside the host while
// developing, and never ship it.
#include <windows.h>

#if defined(KOVALTIX_BUILDING)
#define KOVALTIX_API __declspec(dllexport)
#else
#define KOVALTIX_API __declspec(dllimport)
#endif

// One vendor control's state. Enb 0: the control is not offered and setting it is skipped.
struct PROPDATA {
    long Min;
    long Max;
    long Value;
    long Def;
    long Enb;
};
static_assert(sizeof(long) == 4, "PROPDATA fields are 32-bit");
static_assert(sizeof(PROPDATA) == 20, "PROPDATA is five 32-bit fields");

// Every object reads and changes the same process-wide controls. The first object made while
// the camera is present, in any process, is the live instance: only it can create the page.
// The control methods may be called from any thread.
//
// Ownership rule: the instance marker and the page belong to exactly one object. Assignment
// closes the target's own page and marker and leaves the target inert; the source keeps its
// marker and page. So each handle is released exactly once. Copy construction is not offered.
class KOVALTIX_API KOVALTIX {
public:
    KOVALTIX();
    ~KOVALTIX();
    KOVALTIX(const KOVALTIX&) = delete;
    KOVALTIX& operator=(const KOVALTIX& other);

    // Embeds the page in parent; title receives the page title (size bytes, always terminated),
    // for the host to show. The host registers the trackbar class first (InitCommonControlsEx,
    // ICC_BAR_CLASSES) and runs a message loop on this thread. Null when this object is not the
    // live instance (so always without a camera), without the trackbar class, and until
    // CloseExtensionPropDialog has ended this object's previous page.
    HWND CreateExtensionPropDialog(HWND parent, char* title, unsigned long size);
    // Destroys the page; call it before destroying the parent. A destroyed page posts WM_QUIT to
    // its thread, which ends a plain message loop.
    void CloseExtensionPropDialog();
    HWND GetExtensionPropDialogHandle();
    // Asks an open page to show the controls' current values again, after the host changed them.
    void UpdateExtensionPropDialog();

    // Get_ copies the group's controls, in argument order; false only for a null pointer. Set_
    // stores each offered control (Enb not 0) and sends it to the camera; false when the camera or
    // the registry refused one, the others are still set. A nonzero auto flag sets the group's
    // other controls to their defaults whatever values are passed. Reset_ sets every control of the
    // group to its default. Values are not checked against Min and Max.

    bool Get_WhiteBalance(PROPDATA* autoFlag, PROPDATA* red, PROPDATA* green, PROPDATA* blue);
    bool Set_WhiteBalance(long autoFlag, long red, long green, long blue);
    bool Reset_WhiteBalance();
    bool Get_Exposure(PROPDATA* autoFlag, PROPDATA* exposure);
    bool Set_Exposure(long autoFlag, long exposure);
    bool Reset_Exposure();
    bool Get_Gain(PROPDATA* autoFlag, PROPDATA* gain);
    bool Set_Gain(long autoFlag, long gain);
    bool Reset_Gain();
    bool Get_PowerLine(PROPDATA* powerLine);
    bool Set_PowerLine(long powerLine);
    bool Reset_PowerLine();
    bool Get_Flip(PROPDATA* flip);
    bool Set_Flip(long flip);
    bool Reset_Flip();
    bool Get_Mirror(PROPDATA* mirror);
    bool Set_Mirror(long mirror);
    bool Reset_Mirror();
    bool Get_PrivateMode(PROPDATA* privateMode);
    bool Set_PrivateMode(long privateMode);
    bool Reset_PrivateMode();
    bool Get_LowLightMode(PROPDATA* lowLight);
    bool Set_LowLightMode(long lowLight);
    bool Reset_LowLightMode();

private:
    void Invalidate();

    HANDLE instanceMutex;
    HWND pageWindow;
    const void* pageTemplate;
};

#if defined(_WIN64)
static_assert(sizeof(KOVALTIX) == 24, "three pointer-wide members");
#else
static_assert(sizeof(KOVALTIX) == 12, "three pointer-wide members");
#endif

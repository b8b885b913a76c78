#pragma once
// The one header a host program needs: include it and link KOVALTIX.dll.
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

    // Embeds the page in parent; title receives the page title (size bytes, always terminated).
    HWND CreateExtensionPropDialog(HWND parent, char* title, unsigned long size);
    void CloseExtensionPropDialog();
    HWND GetExtensionPropDialogHandle();
    // Asks an open page to show the controls' current values again.
    void UpdateExtensionPropDialog();

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

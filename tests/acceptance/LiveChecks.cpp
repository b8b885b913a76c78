// The library live over the camera: every group checked three ways (the record, the driver's
// Settings key, the camera itself), the page in a real window, the next live instance; and inert.
#include <windows.h>
#include <commctrl.h>

#include "Checks.h"
#include "HostSupport.h"

namespace {

// Control ids of the page: the gain slider and the flip box.
const int GainSlider = 1028;
const int FlipBox = 1034;

const Control AutoWhiteBalance = {"AWBEx", 41}, Red = {"WBRedEx", 38}, Blue = {"WBBlueEx", 40};
const Control AutoExposure = {"AECEx", 43}, Exposure = {"ExposureEx", 42};
const Control AutoGain = {"AGCEx", 45}, Gain = {"GainEx", 44};

// All 13 records, in table order.
void GetAll(KOVALTIX& k, PROPDATA (&r)[13], bool* allTrue) {
    bool ok = k.Get_WhiteBalance(&r[0], &r[1], &r[2], &r[3]);
    ok = k.Get_Exposure(&r[4], &r[5]) && ok;
    ok = k.Get_Gain(&r[6], &r[7]) && ok;
    ok = k.Get_PowerLine(&r[8]) && ok;
    ok = k.Get_Flip(&r[9]) && ok;
    ok = k.Get_Mirror(&r[10]) && ok;
    ok = k.Get_PrivateMode(&r[11]) && ok;
    ok = k.Get_LowLightMode(&r[12]) && ok;
    *allTrue = ok;
}

bool SetAndResetAll(KOVALTIX& k) {
    bool ok = k.Set_WhiteBalance(1, 2, 3, 4);
    ok = k.Set_Exposure(0, 9) && ok;
    ok = k.Set_Gain(0, 10) && ok;
    ok = k.Set_PowerLine(1) && ok;
    ok = k.Set_Flip(1) && ok;
    ok = k.Set_Mirror(1) && ok;
    ok = k.Set_PrivateMode(1) && ok;
    ok = k.Set_LowLightMode(1) && ok;
    ok = k.Reset_WhiteBalance() && ok;
    ok = k.Reset_Exposure() && ok;
    ok = k.Reset_Gain() && ok;
    ok = k.Reset_PowerLine() && ok;
    ok = k.Reset_Flip() && ok;
    ok = k.Reset_Mirror() && ok;
    ok = k.Reset_PrivateMode() && ok;
    return k.Reset_LowLightMode() && ok;
}

void GroupsReachTheCamera(KOVALTIX& live, HKEY settings) {
    PROPDATA a, r, g, b, x;
    bool ok = live.Set_WhiteBalance(0, 10, 20, 30);
    live.Get_WhiteBalance(&a, &r, &g, &b);
    Expect(ok && g.Enb == 0 && g.Value == g.Def, "white balance set (green disabled)",
           "result %d, green %ld/%ld", ok, g.Value, g.Def);
    ExpectControl(settings, "white balance: auto", a, AutoWhiteBalance, 0);
    ExpectControl(settings, "white balance: red", r, Red, 10);
    ExpectControl(settings, "white balance: blue", b, Blue, 30);

    ok = live.Set_Exposure(0, 100);
    live.Get_Exposure(&a, &x);
    Expect(ok, "exposure set", "");
    ExpectControl(settings, "exposure: auto", a, AutoExposure, 0);
    ExpectControl(settings, "exposure: value", x, Exposure, 100);

    ok = live.Set_Gain(1, 5);
    live.Get_Gain(&a, &x);
    Expect(ok && x.Value == x.Def, "gain set with auto on: the default wins", "gain %ld", x.Value);
    ExpectControl(settings, "gain: auto", a, AutoGain, 1);
    ok = live.Set_Gain(0, 50);
    live.Get_Gain(&a, &x);
    ExpectControl(settings, "gain: value", x, Gain, 50);

    struct Single {
        Control control;
        bool (KOVALTIX::*set)(long);
        bool (KOVALTIX::*get)(PROPDATA*);
        bool (KOVALTIX::*reset)();
        long value;
    };
    const Single singles[] = {
        {{"PowerLineEx", 46},
         &KOVALTIX::Set_PowerLine,
         &KOVALTIX::Get_PowerLine,
         &KOVALTIX::Reset_PowerLine,
         1},
        {{"FlipEx", 48}, &KOVALTIX::Set_Flip, &KOVALTIX::Get_Flip, &KOVALTIX::Reset_Flip, 1},
        // All 32 bits reach the library: -1 is stored as 0xFFFFFFFF; the camera gets 0xFFFF.
        {{"MirrorEx", 49},
         &KOVALTIX::Set_Mirror,
         &KOVALTIX::Get_Mirror,
         &KOVALTIX::Reset_Mirror,
         -1},
        {{"PrivacyEx", 50},
         &KOVALTIX::Set_PrivateMode,
         &KOVALTIX::Get_PrivateMode,
         &KOVALTIX::Reset_PrivateMode,
         1},
        {{"NightModeEx", 51},
         &KOVALTIX::Set_LowLightMode,
         &KOVALTIX::Get_LowLightMode,
         &KOVALTIX::Reset_LowLightMode,
         0},
    };
    for (const Single& s : singles) {
        ok = (live.*s.set)(s.value);
        (live.*s.get)(&x);
        Expect(ok, "single control set", "%s", s.control.name);
        ExpectControl(settings, "single control: value", x, s.control, s.value);
        ok = (live.*s.reset)();
        (live.*s.get)(&x);
        Expect(ok, "single control reset", "%s", s.control.name);
        ExpectControl(settings, "single control: reset to its default", x, s.control, x.Def);
    }

    ok = live.Reset_WhiteBalance() && live.Reset_Exposure() && live.Reset_Gain();
    live.Get_WhiteBalance(&a, &r, &g, &b);
    Expect(ok, "groups reset", "");
    ExpectControl(settings, "white balance reset: auto", a, AutoWhiteBalance, a.Def);
    ExpectControl(settings, "white balance reset: red", r, Red, r.Def);
    live.Get_Exposure(&a, &x);
    ExpectControl(settings, "exposure reset: value", x, Exposure, x.Def);
    live.Get_Gain(&a, &x);
    ExpectControl(settings, "gain reset: value", x, Gain, x.Def);
}

void PageInAWindow(KOVALTIX& live, KOVALTIX& inert, HWND parent) {
    char title[64];
    FillBytes(title, 'x', sizeof title);
    HWND page = live.CreateExtensionPropDialog(parent, title, sizeof title);
    Expect(page != nullptr && IsWindow(page) && GetParent(page) == parent &&
               live.GetExtensionPropDialogHandle() == page,
           "page created in the host's window", "page %p", page);
    Expect(title[0] != 0 && TextLength(title, sizeof title) < sizeof title, "page title given", "");
    Expect(live.CreateExtensionPropDialog(parent, title, sizeof title) == nullptr,
           "a second page is refused", "");
    Expect(inert.CreateExtensionPropDialog(parent, title, sizeof title) == nullptr,
           "an inert object makes no page", "");
    if (!page) return;

    live.Set_Gain(0, 77);
    live.Set_Flip(1);
    live.UpdateExtensionPropDialog();
    PumpMessages();
    const LRESULT position = SendDlgItemMessageA(page, GainSlider, TBM_GETPOS, 0, 0);
    const LRESULT flip = SendDlgItemMessageA(page, FlipBox, BM_GETCHECK, 0, 0);
    Expect(position == 77 && flip == BST_CHECKED, "page shows the values after an update",
           "slider %ld, flip box %ld", static_cast<long>(position), static_cast<long>(flip));

    live.CloseExtensionPropDialog();
    PumpMessages();
    Expect(!IsWindow(page) && live.GetExtensionPropDialogHandle() == nullptr, "page closed", "");
    live.Reset_Gain();
    live.Reset_Flip();
}

}  // namespace

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// ---- Inert ----------------------------------------------------------------------------------

void Inert(const char* when, HWND parent) {
    char check[96];
    KOVALTIX* k = new KOVALTIX;
    PROPDATA records[13];
    FillBytes(records, 0xFF, sizeof records);
    bool allTrue = false;
    GetAll(*k, records, &allTrue);
    bool zero = true;
    for (const PROPDATA& p : records) zero = zero && (p.Min | p.Max | p.Value | p.Def | p.Enb) == 0;
    Format(check, sizeof check, "%s: every Get_ gives true and an all-zero record", when);
    Expect(allTrue && zero, check, "results %d, zero %d", allTrue, zero);
    Format(check, sizeof check, "%s: every Set_ and Reset_ gives true", when);
    Expect(SetAndResetAll(*k), check, "");

    char title[16] = "untouched";
    HWND page = k->CreateExtensionPropDialog(parent, title, sizeof title);
    Format(check, sizeof check, "%s: no page, title untouched", when);
    Expect(page == nullptr && TextEquals(title, "untouched") &&
               k->GetExtensionPropDialogHandle() == nullptr,
           check, "page %p, title '%s'", page, title);
    k->UpdateExtensionPropDialog();
    k->CloseExtensionPropDialog();

    KOVALTIX other;
    KOVALTIX& assigned = (other = *k);
    Format(check, sizeof check, "%s: assignment returns the object assigned to", when);
    Expect(&assigned == &other, check, "");
    delete k;
}

// ---- Live -----------------------------------------------------------------------------------

PHASE void Live(HWND parent) {
    HKEY settings = OpenCameraSettings();
    Expect(settings != nullptr, "the camera's driver has its Settings key", "");
    KOVALTIX* live = nullptr;
#if defined(_MSC_VER)
    // An MSVC caller may take the object from the constructor's return value.
    void* memory = operator new(sizeof(KOVALTIX));
    KOVALTIX* constructed = ConstructThroughImport(memory);
    Expect(constructed == memory, "constructor returns the object (MSVC ABI)", "%p for %p",
           constructed, memory);
    live = static_cast<KOVALTIX*>(memory);
#else
    live = new KOVALTIX;
#endif
    KOVALTIX* inert = new KOVALTIX;

    PROPDATA records[13];
    bool allTrue = false;
    GetAll(*live, records, &allTrue);
    long storedGain = -1;
    StoredSetting(settings, "GainEx", &storedGain);
    Expect(allTrue && records[1].Enb == 1 && records[1].Max == 255 && records[1].Def == 127 &&
               records[2].Enb == 0 && records[5].Min == 1 && records[7].Max == 127 &&
               records[7].Value == storedGain,
           "live: the controls are loaded from the driver's key",
           "red %ld/%ld/%ld, green enabled %ld, gain %ld stored %ld", records[1].Enb,
           records[1].Max, records[1].Def, records[2].Enb, records[7].Value, storedGain);

    GroupsReachTheCamera(*live, settings);
    StackChecks();

    PROPDATA flip;
    const bool inertSet = inert->Set_Flip(1);
    long stored = 0;
    unsigned long held = 0;
    Expect(inertSet && inert->Get_Flip(&flip) && flip.Value == 1 &&
               StoredSetting(settings, "FlipEx", &stored) && stored == 1 &&
               CameraHolds(48, &held) && held == 1,
           "an inert object's Set_ still reaches the camera", "stored %ld, held %lu", stored, held);
    inert->Reset_Flip();

    PageInAWindow(*live, *inert, parent);

    {
        KOVALTIX copy;
        KOVALTIX& assigned = (copy = *live);
        char title[32];
        Expect(&assigned == &copy &&
                   copy.CreateExtensionPropDialog(parent, title, sizeof title) == nullptr,
               "assignment returns the target, which stays without a page", "");
    }
    HWND again = live->CreateExtensionPropDialog(parent, nullptr, 0);
    Expect(again != nullptr, "the live instance keeps its page after an assignment", "");
    live->CloseExtensionPropDialog();
    PumpMessages();

    delete inert;
    delete live;
    KOVALTIX* next = new KOVALTIX;
    HWND nextPage = next->CreateExtensionPropDialog(parent, nullptr, 0);
    Expect(nextPage != nullptr, "after the live instance is gone, the next object is live", "");
    next->CloseExtensionPropDialog();
    PumpMessages();

    // A failed write must come back as false through the member's bool result: the key the
    // library holds open goes away under it.
    if (settings) RegCloseKey(settings);
    HKEY driver = OpenCameraDriverKey(KEY_ALL_ACCESS);
    const bool deleted = driver && RegDeleteKeyA(driver, "Settings") == ERROR_SUCCESS;
    if (driver) RegCloseKey(driver);
    Expect(deleted && !next->Set_Flip(1), "a refused registry write gives false", "");
    delete next;
}

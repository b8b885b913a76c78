// Acceptance host: a program a host developer could write against the SDK alone (KOVALTIX.h,
// BRALIMOND.h and the import libraries). Built twice, by clang in MSVC mode and by MinGW's g++,
// for both architectures; each run covers the whole interface in one process:
//   1. the shipped KOVALTIX.dll, which finds no camera here;
//   2. the demo build KOVALTIXV.dll over the virtual camera, reached through the same imports;
//   3. an install and uninstall round trip through BRALIMOND.dll.
// It prints "PASS <check>" or "FAIL <check>: <detail>" per check and "acceptance done" last.
//
// Usage: <host>.exe <folder holding KOVALTIXV.dll> <installation base folder>
// The host lies in an installation source folder: every file of the manifest beside it.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "BRALIMOND.h"
#include "KOVALTIX.h"

#include "HostSupport.h"

namespace {

#if defined(_MSC_VER)
const char Abi[] = "MSVC";
#else
const char Abi[] = "GCC";
#endif

// The demo camera's driver instance keeps its settings here.
const char DemoDriverKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0042";
const char DemoSettingsKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0042"
    "\\Settings";
const char UninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Control ids of the page: the gain slider and the flip box.
const int GainSlider = 1028;
const int FlipBox = 1034;

bool StoredSetting(const char* name, long* value) {
    DWORD data = 0, size = sizeof data, type = 0;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, DemoSettingsKey, name, RRF_RT_ANY, &type, &data, &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    *value = static_cast<long>(data);
    return true;
}

// The record's value and the stored one both equal `expected`.
void ExpectControl(const char* check, const PROPDATA& record, const char* name, long expected) {
    long stored = 0;
    const bool found = StoredSetting(name, &stored);
    Expect(record.Value == expected && found && stored == expected, check,
           "%s: record %ld, registry %ld (%s), expected %ld", name, record.Value, stored,
           found ? "present" : "absent", expected);
}

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

// Each phase reads the import slots itself: a compiler may keep an imported address in a
// register across the rebinding when the phases are inlined into one function.
#define PHASE __declspec(noinline)

// ---- 1. No camera ---------------------------------------------------------------------------

PHASE void WithoutCamera(HWND parent) {
    KOVALTIX* k = new KOVALTIX;
    PROPDATA records[13];
    FillBytes(records, 0xFF, sizeof records);
    bool allTrue = false;
    GetAll(*k, records, &allTrue);
    bool zero = true;
    for (const PROPDATA& p : records) zero = zero && (p.Min | p.Max | p.Value | p.Def | p.Enb) == 0;
    Expect(allTrue && zero, "no camera: every Get_ gives true and an all-zero record",
           "results %d, zero %d", allTrue, zero);
    Expect(SetAndResetAll(*k), "no camera: every Set_ and Reset_ gives true", "");

    char title[16] = "untouched";
    HWND page = k->CreateExtensionPropDialog(parent, title, sizeof title);
    Expect(page == nullptr && TextEquals(title, "untouched") &&
               k->GetExtensionPropDialogHandle() == nullptr,
           "no camera: no page, title untouched", "page %p, title '%s'", page, title);
    k->UpdateExtensionPropDialog();
    k->CloseExtensionPropDialog();

    KOVALTIX other;
    KOVALTIX& assigned = (other = *k);
    Expect(&assigned == &other, "no camera: assignment returns the object assigned to", "");
    delete k;
}

// ---- 2. The virtual camera ------------------------------------------------------------------

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void GroupsReachCameraAndRegistry(KOVALTIX& live) {
    PROPDATA a, r, g, b, x;
    bool ok = live.Set_WhiteBalance(0, 10, 20, 30);
    live.Get_WhiteBalance(&a, &r, &g, &b);
    Expect(ok && g.Enb == 0 && g.Value == g.Def, "white balance set (green disabled)",
           "result %d, green %ld/%ld", ok, g.Value, g.Def);
    ExpectControl("white balance: auto", a, "AWBEx", 0);
    ExpectControl("white balance: red", r, "WBRedEx", 10);
    ExpectControl("white balance: blue", b, "WBBlueEx", 30);

    ok = live.Set_Exposure(0, 100);
    live.Get_Exposure(&a, &x);
    Expect(ok, "exposure set", "");
    ExpectControl("exposure: auto", a, "AECEx", 0);
    ExpectControl("exposure: value", x, "ExposureEx", 100);

    ok = live.Set_Gain(1, 5);
    live.Get_Gain(&a, &x);
    Expect(ok && x.Value == x.Def, "gain set with auto on: the default wins", "gain %ld", x.Value);
    ExpectControl("gain: auto", a, "AGCEx", 1);

    ok = live.Set_Gain(0, 50);
    live.Get_Gain(&a, &x);
    ExpectControl("gain: value", x, "GainEx", 50);

    struct Single {
        const char* name;
        bool (KOVALTIX::*set)(long);
        bool (KOVALTIX::*get)(PROPDATA*);
        bool (KOVALTIX::*reset)();
        long value;
    };
    const Single singles[] = {
        {"PowerLineEx", &KOVALTIX::Set_PowerLine, &KOVALTIX::Get_PowerLine,
         &KOVALTIX::Reset_PowerLine, 1},
        {"FlipEx", &KOVALTIX::Set_Flip, &KOVALTIX::Get_Flip, &KOVALTIX::Reset_Flip, 1},
        // All 32 bits reach the library: -1 is stored as 0xFFFFFFFF.
        {"MirrorEx", &KOVALTIX::Set_Mirror, &KOVALTIX::Get_Mirror, &KOVALTIX::Reset_Mirror, -1},
        {"PrivacyEx", &KOVALTIX::Set_PrivateMode, &KOVALTIX::Get_PrivateMode,
         &KOVALTIX::Reset_PrivateMode, 1},
        {"NightModeEx", &KOVALTIX::Set_LowLightMode, &KOVALTIX::Get_LowLightMode,
         &KOVALTIX::Reset_LowLightMode, 0},
    };
    for (const Single& s : singles) {
        ok = (live.*s.set)(s.value);
        (live.*s.get)(&x);
        Expect(ok, "single control set", "%s", s.name);
        ExpectControl("single control: value", x, s.name, s.value);
        ok = (live.*s.reset)();
        (live.*s.get)(&x);
        Expect(ok, "single control reset", "%s", s.name);
        ExpectControl("single control: reset to its default", x, s.name, x.Def);
    }

    ok = live.Reset_WhiteBalance() && live.Reset_Exposure() && live.Reset_Gain();
    live.Get_WhiteBalance(&a, &r, &g, &b);
    Expect(ok, "groups reset", "");
    ExpectControl("white balance reset: auto", a, "AWBEx", a.Def);
    ExpectControl("white balance reset: red", r, "WBRedEx", r.Def);
    live.Get_Exposure(&a, &x);
    ExpectControl("exposure reset: value", x, "ExposureEx", x.Def);
    live.Get_Gain(&a, &x);
    ExpectControl("gain reset: value", x, "GainEx", x.Def);
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

PHASE void WithVirtualCamera(HWND parent) {
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
    Expect(allTrue && records[1].Enb == 1 && records[1].Max == 255 && records[1].Def == 127 &&
               records[2].Enb == 0 && records[5].Min == 1 && records[7].Max == 127,
           "virtual camera: the controls are loaded", "red %ld/%ld/%ld, green enabled %ld",
           records[1].Enb, records[1].Max, records[1].Def, records[2].Enb);

    GroupsReachCameraAndRegistry(*live);

    PROPDATA flip;
    const bool inertSet = inert->Set_Flip(1);
    long stored = 0;
    Expect(inertSet && inert->Get_Flip(&flip) && flip.Value == 1 &&
               StoredSetting("FlipEx", &stored) && stored == 1,
           "an inert object's Set_ still reaches the camera", "stored %ld", stored);
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

    // A failed write must come back as false through the member's bool result.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, DemoSettingsKey);
    Expect(!next->Set_Flip(1), "a refused registry write gives false", "");
    delete next;
}

// ---- 3. Install and uninstall ---------------------------------------------------------------

bool ShortcutFolder(int csidl, char (&out)[MAX_PATH]) {
    return SHGetSpecialFolderPathA(nullptr, out, csidl, FALSE) != FALSE;
}

void InstallRoundTrip(const char* base) {
    InstallContext context;
    FillBytes(&context, 0, sizeof context);
    context.module = GetModuleHandleA("BRALIMOND.dll");
    CopyText(context.baseFolder, sizeof context.baseFolder, base);
    CopyText(context.parentFolder, sizeof context.parentFolder, "Kovaltix Acceptance");
    Format(context.productFolder, sizeof context.productFolder, "Camera %s", Abi);
    Format(context.productName, sizeof context.productName, "Kovaltix Camera %s", Abi);
    Format(context.displayName, sizeof context.displayName, "Uninstall Kovaltix Camera %s", Abi);
    context.desktopShortcut = 1;
    context.startMenuShortcut = 1;

    char install[MAX_PATH], file[MAX_PATH], key[MAX_PATH], desktop[MAX_PATH], programs[MAX_PATH];
    char systemCopy[MAX_PATH];
    Format(install, sizeof install, "%s\\%s\\%s", base, context.parentFolder,
           context.productFolder);
    Format(key, sizeof key, "%s%s", UninstallRoot, context.productName);
    GetSystemDirectoryA(file, MAX_PATH);
    Format(systemCopy, sizeof systemCopy, "%s\\KOVALTIX.dll", file);
    const bool folders = ShortcutFolder(CSIDL_COMMON_DESKTOPDIRECTORY, desktop) &&
                         ShortcutFolder(CSIDL_COMMON_PROGRAMS, programs);
    char desktopLink[MAX_PATH], startMenu[MAX_PATH];
    Format(desktopLink, sizeof desktopLink, "%s\\%s.lnk", desktop, context.productName);
    Format(startMenu, sizeof startMenu, "%s\\%s", programs, context.productFolder);

    SetEnvironmentVariableA("DPINST_EXIT", "1");
    Expect(Installer(&context), "Installer succeeds", "");
    Format(file, sizeof file, "%s\\driver\\VK4M220FL.inf", install);
    char uninstallString[2 * MAX_PATH] = "", expected[2 * MAX_PATH];
    DWORD size = sizeof uninstallString;
    RegGetValueA(HKEY_LOCAL_MACHINE, key, "UninstallString", RRF_RT_REG_SZ, nullptr,
                 uninstallString, &size);
    Format(expected, sizeof expected, "\"%s\\MERSIVO.exe\" /uninstall", install);
    Expect(FileExists(file) && FileExists(systemCopy), "installed: driver package and system copy",
           "%s", file);
    Expect(TextEquals(uninstallString, expected), "installed: the Uninstall entry", "'%s'",
           uninstallString);
    Expect(folders && FileExists(desktopLink) && FolderExists(startMenu),
           "installed: the shortcuts", "%s", desktopLink);

    // The installed copy of the library is the module the uninstall runs from.
    Format(file, sizeof file, "%s\\BRALIMOND.dll", install);
    HMODULE installed = LoadLibraryA(file);
    context.module = installed;
    FillBytes(context.baseFolder, 0, sizeof context.baseFolder);
    FillBytes(context.parentFolder, 0, sizeof context.parentFolder);
    SetEnvironmentVariableA("DPINST_EXIT", "0");
    Expect(installed != nullptr && Uninstaller(&context), "Uninstaller succeeds", "");
    HKEY left = nullptr;
    const bool keyLeft =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &left) == ERROR_SUCCESS;
    if (keyLeft) RegCloseKey(left);
    Expect(
        !keyLeft && !FileExists(systemCopy) && !FileExists(desktopLink) && !FolderExists(startMenu),
        "uninstalled: entry, system copy and shortcuts gone", "");
    Format(file, sizeof file, "%s\\driver", install);
    Expect(!FolderExists(file), "uninstalled: the driver package gone", "");
    if (installed) FreeLibrary(installed);
    RemoveLeftovers(install);
}

}  // namespace

int RunAcceptance(int argc, char** argv) {
    if (argc != 3) {
        Print("usage: <host> <folder of KOVALTIXV.dll> <installation base folder>\n");
        return 2;
    }
    Print("%s host, %d-bit\n", Abi, static_cast<int>(sizeof(void*) * 8));
    HWND parent = CreateHostWindow();
    Expect(parent != nullptr, "host window with the trackbar class registered", "");

    WithoutCamera(parent);

    // The demo build answers the same imports from here on.
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, DemoDriverKey);
    char demo[MAX_PATH];
    Format(demo, sizeof demo, "%s\\KOVALTIXV.dll", argv[1]);
    HMODULE demoModule = LoadLibraryA(demo);
    Expect(demoModule != nullptr && RebindImports("KOVALTIX.dll", demoModule),
           "every import of KOVALTIX.dll found in the demo build", "%s", demo);
    if (demoModule) WithVirtualCamera(parent);

    InstallRoundTrip(argv[2]);
    DestroyWindow(parent);
    return Finish();
}

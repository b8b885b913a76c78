// Acceptance host: a program a host developer could write against the SDK alone (KOVALTIX.h,
// BRALIMOND.h and the import libraries), run on the shipped DLLs over the virtual USB hardware in
// the platform's kernel. Built twice, by clang in MSVC mode and by MinGW's g++, for both
// architectures.
//   <host> cycle <installation base folder>
//       the camera is plugged in, the product not installed:
//       1. the library is inert (no driver, so no capture interface);
//       2. Installer through BRALIMOND.h: the camera gets its driver and its capture interface;
//       3. a new process ("live"): the library is live; every group's Set_/Get_/Reset_ checked
//          three ways (Get_, the driver's Settings key, the value the camera holds), the page in
//          a real window, the next live instance, a refused write coming back as false;
//       4. Uninstaller through the installed library;
//       5. a new process ("inert"): the library is inert again, the camera has no driver, and
//          the package is out of the driver store.
//   <host> leftovers
//       after the platform restarted: no service, driver file or store entry of the package.
// It prints "PASS <check>" or "FAIL <check>: <detail>" per check and "acceptance done" last.
// The host lies in an installation source folder: every file of the manifest beside it.
#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>
#include <shlobj.h>

#include "BRALIMOND.h"
#include "KOVALTIX.h"
#include "VirtualUsbControl.h"

#include "HostSupport.h"

namespace {

#if defined(_MSC_VER)
const char Abi[] = "MSVC";
#else
const char Abi[] = "GCC";
#endif

const GUID CaptureCategory = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const char CameraHardwareId[] = "USB\\VID_2F3A&PID_1801&MI_00";
const char UninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char PackageService[] = "SYSTEM\\CurrentControlSet\\Services\\VK4M220FL";
const char ImageClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}";

// Control ids of the page: the gain slider and the flip box.
const int GainSlider = 1028;
const int FlipBox = 1034;

// ---- The camera as the platform and the virtual hardware show it ---------------------------

// The key of the camera's driver, found through the platform's device installation records
// rather than the library's own lookup.
HKEY OpenCameraDriverKey(REGSAM access) {
    HDEVINFO list = SetupDiGetClassDevsA(&CaptureCategory, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return nullptr;
    HKEY driver = nullptr;
    SP_DEVICE_INTERFACE_DATA entry;
    entry.cbSize = sizeof entry;
    for (DWORD i = 0;
         !driver && SetupDiEnumDeviceInterfaces(list, nullptr, &CaptureCategory, i, &entry); ++i) {
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        if (!SetupDiGetDeviceInterfaceDetailA(list, &entry, nullptr, 0, nullptr, &device) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            continue;
        driver = SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, access);
        if (driver == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) driver = nullptr;
    }
    SetupDiDestroyDeviceInfoList(list);
    return driver;
}

HKEY OpenCameraSettings() {
    HKEY driver = OpenCameraDriverKey(KEY_READ), settings = nullptr;
    if (!driver) return nullptr;
    if (RegOpenKeyExA(driver, "Settings", 0, KEY_READ, &settings) != ERROR_SUCCESS)
        settings = nullptr;
    RegCloseKey(driver);
    return settings;
}

bool CaptureInterfacePresent() {
    HDEVINFO list = SetupDiGetClassDevsA(&CaptureCategory, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA entry;
    entry.cbSize = sizeof entry;
    const bool present =
        SetupDiEnumDeviceInterfaces(list, nullptr, &CaptureCategory, 0, &entry) != FALSE;
    SetupDiDestroyDeviceInfoList(list);
    return present;
}

// What the camera's device node says of its driver: the service name, empty when it has none.
bool CameraService(char (&service)[64]) {
    service[0] = '\0';
    HDEVINFO list = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (list == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(list, i, &device); ++i) {
        char ids[512];
        FillBytes(ids, 0, sizeof ids);
        if (!SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE*>(ids), sizeof ids - 2,
                                               nullptr))
            continue;
        for (const char* id = ids; *id && !found; id += TextLength(id, sizeof ids) + 1)
            found = lstrcmpiA(id, CameraHardwareId) == 0;
        if (!found) continue;
        SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_SERVICE, nullptr,
                                          reinterpret_cast<BYTE*>(service), sizeof service - 1,
                                          nullptr);
        break;
    }
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

bool StoredSetting(HKEY settings, const char* name, long* value) {
    DWORD data = 0, size = sizeof data, type = 0;
    if (!settings ||
        RegQueryValueExA(settings, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    *value = static_cast<long>(data);
    return true;
}

// What the camera itself holds for a selector, asked of the virtual hardware.
bool CameraHolds(unsigned short selector, unsigned long* value) {
    HANDLE bus = CreateFileA(VUSB_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (bus == INVALID_HANDLE_VALUE) return false;
    VusbCameraReading reading;
    DWORD returned = 0;
    const bool ok = DeviceIoControl(bus, IOCTL_VUSB_CAMERA_VALUE, &selector, sizeof selector,
                                    &reading, sizeof reading, &returned, nullptr) &&
                    returned == sizeof reading && reading.known;
    CloseHandle(bus);
    *value = reading.value;
    return ok;
}

struct Control {
    const char* name;
    unsigned short selector;
};

// The record's value, the stored one and the camera's all equal `expected` (the camera holds
// its low 16 bits).
void ExpectControl(HKEY settings, const char* check, const PROPDATA& record, const Control& c,
                   long expected) {
    long stored = 0;
    unsigned long held = 0;
    const bool found = StoredSetting(settings, c.name, &stored);
    const bool camera = CameraHolds(c.selector, &held);
    Expect(record.Value == expected && found && stored == expected && camera &&
               held == (static_cast<unsigned long>(expected) & 0xFFFF),
           check, "%s: record %ld, registry %ld (%s), camera %lu (%s), expected %ld", c.name,
           record.Value, stored, found ? "present" : "absent", held, camera ? "held" : "unknown",
           expected);
}

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

// Each phase reads the import slots itself: one compiler inlined imported addresses across
// phases before, and the live objects must come from this process's own start-up.
#define PHASE __declspec(noinline)

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

// ---- Install and uninstall ------------------------------------------------------------------

struct Installation {
    InstallContext context;
    char folder[MAX_PATH];
    char uninstallKey[MAX_PATH];
    char systemCopy[MAX_PATH];
    char desktopLink[MAX_PATH];
    char startMenu[MAX_PATH];
};

void Describe(Installation& i, const char* base) {
    FillBytes(&i.context, 0, sizeof i.context);
    i.context.module = GetModuleHandleA("BRALIMOND.dll");
    CopyText(i.context.baseFolder, sizeof i.context.baseFolder, base);
    CopyText(i.context.parentFolder, sizeof i.context.parentFolder, "Kovaltix Acceptance");
    Format(i.context.productFolder, sizeof i.context.productFolder, "Camera %s", Abi);
    Format(i.context.productName, sizeof i.context.productName, "Kovaltix Camera %s", Abi);
    Format(i.context.displayName, sizeof i.context.displayName, "Uninstall Kovaltix Camera %s",
           Abi);
    i.context.desktopShortcut = 1;
    i.context.startMenuShortcut = 1;
    Format(i.folder, sizeof i.folder, "%s\\%s\\%s", base, i.context.parentFolder,
           i.context.productFolder);
    Format(i.uninstallKey, sizeof i.uninstallKey, "%s%s", UninstallRoot, i.context.productName);
    char system[MAX_PATH], desktop[MAX_PATH], programs[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    Format(i.systemCopy, sizeof i.systemCopy, "%s\\KOVALTIX.dll", system);
    SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
    SHGetSpecialFolderPathA(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    Format(i.desktopLink, sizeof i.desktopLink, "%s\\%s.lnk", desktop, i.context.productName);
    Format(i.startMenu, sizeof i.startMenu, "%s\\%s", programs, i.context.productFolder);
}

bool KeyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

PHASE void Install(Installation& i) {
    Expect(Installer(&i.context), "Installer succeeds, the driver installer included", "");
    char file[MAX_PATH], uninstallString[2 * MAX_PATH] = "", expected[2 * MAX_PATH];
    Format(file, sizeof file, "%s\\driver\\VK4M220FL.inf", i.folder);
    DWORD size = sizeof uninstallString;
    RegGetValueA(HKEY_LOCAL_MACHINE, i.uninstallKey, "UninstallString", RRF_RT_REG_SZ, nullptr,
                 uninstallString, &size);
    Format(expected, sizeof expected, "\"%s\\MERSIVO.exe\" /uninstall", i.folder);
    Expect(FileExists(file) && FileExists(i.systemCopy),
           "installed: driver package and system copy", "%s", file);
    Expect(TextEquals(uninstallString, expected), "installed: the Uninstall entry", "'%s'",
           uninstallString);
    Expect(FileExists(i.desktopLink) && FolderExists(i.startMenu), "installed: the shortcuts", "%s",
           i.desktopLink);
    char service[64];
    Expect(CameraService(service) && lstrcmpiA(service, "VK4M220FL") == 0,
           "installed: the camera has its driver", "service '%s'", service);
    Expect(CaptureInterfacePresent(), "installed: the camera's capture interface is present", "");
}

PHASE void Uninstall(Installation& i) {
    // The installed copy of the library is the module the uninstall runs from.
    char file[MAX_PATH];
    Format(file, sizeof file, "%s\\BRALIMOND.dll", i.folder);
    HMODULE installed = LoadLibraryA(file);
    i.context.module = installed;
    FillBytes(i.context.baseFolder, 0, sizeof i.context.baseFolder);
    FillBytes(i.context.parentFolder, 0, sizeof i.context.parentFolder);
    Expect(installed != nullptr && Uninstaller(&i.context), "Uninstaller succeeds", "");
    Expect(!KeyExists(i.uninstallKey) && !FileExists(i.systemCopy) && !FileExists(i.desktopLink) &&
               !FolderExists(i.startMenu),
           "uninstalled: entry, system copy and shortcuts gone", "");
    Format(file, sizeof file, "%s\\driver", i.folder);
    Expect(!FolderExists(file), "uninstalled: the driver package's copy gone", "");
    if (installed) FreeLibrary(installed);
    RemoveLeftovers(i.folder);
}

// ---- What the package leaves -----------------------------------------------------------------

// A file of the platform's INF folder that names the package.
bool PackageInStore() {
    char windows[MAX_PATH], pattern[MAX_PATH], path[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    Format(pattern, sizeof pattern, "%s\\inf\\*.inf", windows);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    static char content[65536];
    do {
        Format(path, sizeof path, "%s\\inf\\%s", windows, entry.cFileName);
        HANDLE file =
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        DWORD read = 0;
        ReadFile(file, content, sizeof content - 1, &read, nullptr);
        CloseHandle(file);
        content[read] = '\0';
        for (DWORD at = 0; !found && at + 9 <= read; ++at)
            found = CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, content + at, 9, "VK4M220FL",
                                   9) == CSTR_EQUAL;
    } while (!found && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

// A driver key of the image class installed from the package's section.
bool PackageDriverKey() {
    HKEY classKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ImageClassKey, 0, KEY_READ, &classKey) != ERROR_SUCCESS)
        return false;
    bool found = false;
    char name[64];
    for (DWORD i = 0; !found && RegEnumKeyA(classKey, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
        char section[64] = "";
        DWORD size = sizeof section;
        found = RegGetValueA(classKey, name, "InfSection", RRF_RT_REG_SZ, nullptr, section,
                             &size) == ERROR_SUCCESS &&
                lstrcmpiA(section, "Camera") == 0;
    }
    RegCloseKey(classKey);
    return found;
}

void NothingOfTheDriverLeft(const char* when) {
    char check[96], service[64];
    Format(check, sizeof check, "%s: the camera is there without a driver", when);
    Expect(CameraService(service) && service[0] == '\0', check, "service '%s'", service);
    Format(check, sizeof check, "%s: no capture interface", when);
    Expect(!CaptureInterfacePresent(), check, "");
    Format(check, sizeof check, "%s: the package is out of the driver store", when);
    Expect(!PackageInStore() && !PackageDriverKey(), check, "");
    Format(check, sizeof check, "%s: the package's service is gone", when);
    Expect(!KeyExists(PackageService), check, "");
}

void NoDriverFiles() {
    char system[MAX_PATH], path[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    const char* const files[] = {"VK4M220FLx86.sys", "VK4M220FUx86.sys", "VK4M220FLamd64.sys",
                                 "VK4M220FUamd64.sys"};
    for (const char* f : files) {
        Format(path, sizeof path, "%s\\drivers\\%s", system, f);
        Expect(!FileExists(path), "after a restart: the package's driver files are gone", "%s",
               path);
    }
}

int RunChild(const char* phase) {
    char self[MAX_PATH], line[2 * MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    Format(line, sizeof line, "\"%s\" %s", self, phase);
    // The child's checks go to the same output as this process's.
    STARTUPINFOA startup;
    FillBytes(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(startup.hStdOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int RunAcceptance(int argc, char** argv) {
    if (argc < 2) {
        Print("usage: <host> cycle <installation base folder> | leftovers\n");
        return 2;
    }
    const char* phase = argv[1];
    if (TextEquals(phase, "leftovers")) {
        NothingOfTheDriverLeft("after a restart");
        NoDriverFiles();
        return Finish();
    }
    HWND parent = CreateHostWindow();
    if (TextEquals(phase, "live")) {
        Live(parent);
    } else if (TextEquals(phase, "inert")) {
        Inert("uninstalled", parent);
        NothingOfTheDriverLeft("uninstalled");
    } else if (TextEquals(phase, "cycle") && argc == 3) {
        Print("%s host, %d-bit\n", Abi, static_cast<int>(sizeof(void*) * 8));
        Expect(parent != nullptr, "host window with the trackbar class registered", "");
        Inert("before the installation", parent);
        Installation installation;
        Describe(installation, argv[2]);
        Install(installation);
        Expect(RunChild("live") == 0, "the live process ends well", "");
        Uninstall(installation);
        Expect(RunChild("inert") == 0, "the process after the uninstall ends well", "");
    } else {
        Print("unknown phase %s\n", phase);
        return 2;
    }
    DestroyWindow(parent);
    return Finish();
}

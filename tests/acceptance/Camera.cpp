// The camera as the platform and the virtual hardware show it, and the checks of the stack the
// package builds over it: the platform's class driver with the package's filter above.
#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>

#include "VirtualUsbControl.h"

#include "Checks.h"
#include "HostSupport.h"

namespace {

const GUID CaptureCategory = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID VideoCategory = {
    0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID VideoCameraCategory = {
    0xE5323777, 0xF976, 0x4F5B, {0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44}};
const char CameraHardwareId[] = "USB\\VID_2F3A&PID_1801&MI_00";
// How an interface path of the camera begins, as the library matches it (letter case aside).
const char CameraPathStart[] = "\\\\?\\usb#vid_2f3a&pid_1801&mi_00#";
const DWORD XuControlIoctl = 0x222004;
const DWORD WaitMs = 15000;
const int GainSlider = 1028;
const int FlipBox = 1034;

bool SameText(const char* a, unsigned length, const char* b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, static_cast<int>(length), b,
                          static_cast<int>(length)) == CSTR_EQUAL;
}

// The camera's first present interface of a category, the one the library would open: its path,
// and its registry key (SetupDiOpenDeviceInterfaceRegKey's) when `key` is given.
bool CameraInterface(const GUID& category, char (&path)[512], HKEY* key) {
    HDEVINFO list =
        SetupDiGetClassDevsA(&category, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA entry;
    entry.cbSize = sizeof entry;
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
        char bytes[sizeof path + 8];
    } reply;
    const unsigned start = sizeof CameraPathStart - 1;
    bool found = false;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInterfaces(list, nullptr, &category, i, &entry);
         ++i) {
        reply.detail.cbSize = sizeof reply.detail;
        found = SetupDiGetDeviceInterfaceDetailA(list, &entry, &reply.detail, sizeof reply, nullptr,
                                                 nullptr) &&
                TextLength(reply.detail.DevicePath, sizeof path) >= start &&
                SameText(reply.detail.DevicePath, start, CameraPathStart);
    }
    if (found) CopyText(path, sizeof path, reply.detail.DevicePath);
    if (found && key) {
        *key = SetupDiOpenDeviceInterfaceRegKey(list, &entry, 0, KEY_READ);
        if (*key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) *key = nullptr;
    }
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

// The camera's capture interface: its path, false when there is none.
bool CapturePath(char (&path)[512]) { return CameraInterface(CaptureCategory, path, nullptr); }

bool BusRequest(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize) {
    HANDLE bus = CreateFileA(VUSB_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (bus == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    const bool ok = DeviceIoControl(bus, code, const_cast<void*>(in), inSize, out, outSize,
                                    &returned, nullptr) &&
                    returned == outSize;
    CloseHandle(bus);
    return ok;
}

// One extension-unit request of 10 bytes on an open capture interface.
bool XuRequest(HANDLE device, unsigned char direction, unsigned char code, unsigned short selector,
               unsigned short dataLength, void* out, DWORD outSize, DWORD* returned) {
    unsigned char request[10] = {direction,
                                 code,
                                 static_cast<unsigned char>(selector),
                                 static_cast<unsigned char>(selector >> 8),
                                 static_cast<unsigned char>(dataLength),
                                 0,
                                 1,
                                 0,
                                 0,
                                 0};
    *returned = 0xFFFF;
    return DeviceIoControl(device, XuControlIoctl, request, sizeof request, out, outSize, returned,
                           nullptr) != FALSE;
}

}  // namespace

// ---- The camera as the platform shows it ---------------------------------------------------

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

bool CameraDrivers(char (&service)[64], char (&filter)[64], DWORD* characteristics) {
    service[0] = filter[0] = '\0';
    if (characteristics) *characteristics = 0;
    HDEVINFO list = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (list == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(list, i, &device); ++i) {
        char ids[512];
        FillBytes(ids, 0, sizeof ids);
        if (!SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE*>(ids), sizeof ids - 2,
                                               nullptr))
            continue;
        for (const char* id = ids; *id && !found; id += TextLength(id, sizeof ids) + 1)
            found = lstrcmpiA(id, CameraHardwareId) == 0;
    }
    if (found) {
        SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_SERVICE, nullptr,
                                          reinterpret_cast<BYTE*>(service), sizeof service - 1,
                                          nullptr);
        // Wine's device installation puts a hardware section's entries into the device key.
        char filters[130];
        FillBytes(filters, 0, sizeof filters);
        HKEY key = SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
            DWORD size = sizeof filters - 2;
            if (!SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_UPPERFILTERS, nullptr,
                                                   reinterpret_cast<BYTE*>(filters), size, nullptr))
                RegQueryValueExA(key, "UpperFilters", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(filters), &size);
            size = sizeof(DWORD);
            if (characteristics)
                RegQueryValueExA(key, "DeviceCharacteristics", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(characteristics), &size);
            RegCloseKey(key);
        }
        CopyText(filter, sizeof filter, filters);
    }
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

void InterfaceChecks() {
    const struct {
        const GUID* category;
        const char* name;
    } listed[] = {{&CaptureCategory, "KSCATEGORY_CAPTURE"},
                  {&VideoCategory, "KSCATEGORY_VIDEO"},
                  {&VideoCameraCategory, "KSCATEGORY_VIDEO_CAMERA"}};
    char path[512], check[128];
    for (const auto& entry : listed) {
        const bool found = CameraInterface(*entry.category, path, nullptr);
        const unsigned length = found ? TextLength(path, sizeof path) : 0;
        Format(check, sizeof check,
               "installed: the camera is listed under %s, reference string GLOBAL", entry.name);
        Expect(found && length > 7 && SameText(path + length - 7, 7, "\\global"), check, "%s",
               found ? path : "not listed");
    }
    // What camera applications show and load for the interface the library opens.
    HKEY key = nullptr;
    char name[128] = "", proxy[64] = "";
    if (CameraInterface(CaptureCategory, path, &key) && key) {
        DWORD size = sizeof name - 1;
        RegQueryValueExA(key, "FriendlyName", nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                         &size);
        size = sizeof proxy - 1;
        RegQueryValueExA(key, "CLSID", nullptr, nullptr, reinterpret_cast<BYTE*>(proxy), &size);
        RegCloseKey(key);
    }
    Expect(TextEquals(name, "Kovaltix USB Camera") &&
               lstrcmpiA(proxy, "{17CCA71B-ECD7-11D0-B908-00A0C9223196}") == 0,
           "installed: the capture interface carries the maker's name and the streaming proxy",
           "FriendlyName '%s', CLSID '%s'", name, proxy);
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

void StackChecks() {
    char path[512];
    HANDLE device = CapturePath(path) ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, 0, nullptr)
                                      : INVALID_HANDLE_VALUE;
    Expect(device != INVALID_HANDLE_VALUE, "the capture interface opens", "");
    if (device == INVALID_HANDLE_VALUE) return;

    // KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, get: the class driver's answer, through the filter.
    struct {
        GUID set;
        ULONG id;
        ULONG flags;
    } property = {
        {0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}}, 0, 1};
    ULONG pinTypes = 0;
    DWORD returned = 0;
    const bool answered = DeviceIoControl(device, 0x2F0003, &property, sizeof property, &pinTypes,
                                          sizeof pinTypes, &returned, nullptr) != FALSE;
    Expect(answered && returned == sizeof pinTypes && pinTypes == 1,
           "a kernel-streaming request passes the filter to the class driver",
           "result %d, %lu bytes, %lu pin types, error %lu", answered, returned, pinTypes,
           answered ? 0 : GetLastError());

    // Only the library's own writes reach the camera; nothing else moves it.
    unsigned long before = 0, after = 0;
    CameraHolds(48, &before);
    unsigned char reply[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    const bool read = XuRequest(device, 0, 0xC2, 48, 2, reply, 2, &returned);
    const bool noControl = XuRequest(device, 1, 0xC2, 0x2F, 0, nullptr, 0, &returned);
    const bool otherCode = XuRequest(device, 1, 0xC1, 48, 0, nullptr, 0, &returned);
    unsigned long stray = 0;
    const bool strayHeld = CameraHolds(0x2F, &stray);
    CameraHolds(48, &after);
    Expect(!read && !noControl && !otherCode && !strayHeld && before == after,
           "requests the library never sends are refused before they reach the camera",
           "read %d, selector 0x2F %d, code 0xC1 %d, camera 0x2F %d, flip %lu then %lu", read,
           noControl, otherCode, strayHeld, before, after);
    // A write puts nothing into the caller's output, and says so.
    const unsigned short flip = static_cast<unsigned short>(before ^ 1);
    unsigned char request[10] = {1, 0xC2, 48, 0, 0, 0, static_cast<unsigned char>(flip), 0, 0, 0};
    const bool wrote = DeviceIoControl(device, XuControlIoctl, request, sizeof request, reply,
                                       sizeof reply, &returned, nullptr) != FALSE;
    CameraHolds(48, &after);
    Expect(wrote && returned == 0 && reply[0] == 0xAA && after == flip,
           "a write reaches the camera and reports no bytes returned",
           "result %d, %lu bytes, output %x, flip %lu", wrote, returned, reply[0], after);
    request[6] = static_cast<unsigned char>(before);
    DeviceIoControl(device, XuControlIoctl, request, sizeof request, nullptr, 0, &returned,
                    nullptr);
    CloseHandle(device);
}

// ---- The camera as the virtual hardware shows it -------------------------------------------

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

bool PlugCamera(bool in) {
    const unsigned long plug = in ? 1 : 0;
    return BusRequest(IOCTL_VUSB_PLUG_CAMERA, &plug, sizeof plug, nullptr, 0) && AwaitCamera(in);
}

bool PullCameraLater(unsigned long ms) {
    return BusRequest(IOCTL_VUSB_CAMERA_OUT_LATER, &ms, sizeof ms, nullptr, 0);
}

bool AwaitCamera(bool in) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < WaitMs; Sleep(20)) {
        VusbBusStatus s;
        if (!BusRequest(IOCTL_VUSB_STATUS, nullptr, 0, &s, sizeof s)) return false;
        if (in ? s.cameraPlugged && s.departedAlive == 0 && s.cameraStarted
               : !s.cameraPlugged && s.departedAlive == 0)
            return true;
    }
    return false;
}

bool HoldRequests(bool hold) {
    const unsigned long on = hold ? 1 : 0;
    return BusRequest(IOCTL_VUSB_CAMERA_HOLD, &on, sizeof on, nullptr, 0);
}

bool IdleCamera(bool idle) {
    const unsigned long on = idle ? 1 : 0;
    return BusRequest(IOCTL_VUSB_CAMERA_IDLE, &on, sizeof on, nullptr, 0);
}

unsigned long RequestsBelowFullPower() {
    VusbBusStatus s;
    FillBytes(&s, 0, sizeof s);
    return BusRequest(IOCTL_VUSB_STATUS, nullptr, 0, &s, sizeof s) ? s.requestsBelowD0 : ~0ul;
}

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

// ---- A camera pulled out and put back, and one that answers nothing ----------------------

PHASE void Replug(HWND parent) {
    KOVALTIX* live = new KOVALTIX;
    HWND page = live->CreateExtensionPropDialog(parent, nullptr, 0);
    Expect(page != nullptr, "replug: the page is open", "");
    unsigned long held = 0;

    // A camera that answers nothing: the write is given up within seconds, as false.
    HoldRequests(true);
    DWORD start = GetTickCount();
    bool ok = live->Set_Flip(1);
    DWORD took = GetTickCount() - start;
    Expect(!ok && took < 5000, "a write the camera never answers gives false within seconds",
           "result %d after %lu ms", ok, took);

    // Pulled out while a write waits for it (the camera leaves as a hand pulls it, while the host
    // is blocked in the write): both end.
    const bool pulling = PullCameraLater(300);
    start = GetTickCount();
    ok = live->Set_Gain(0, 40);
    took = GetTickCount() - start;
    const bool out = AwaitCamera(false);
    HoldRequests(false);
    Expect(pulling && !ok && took < 5000 && out,
           "pulled out during a waiting write: the write gives false, the removal completes",
           "result %d after %lu ms, out %d", ok, took, out);
    Expect(!live->Set_Flip(1), "while the camera is out, Set_ gives false", "");

    // A write that reaches the camera's driver just as the camera goes, or while its stack is
    // being removed: it ends within bounds whatever the order, and the camera comes back.
    const unsigned long delays[] = {0, 20, 100};
    for (unsigned long delay : delays) {
        bool raced = PlugCamera(true) && PullCameraLater(delay);
        start = GetTickCount();
        ok = live->Reset_Mirror();
        took = GetTickCount() - start;
        raced = raced && AwaitCamera(false);
        char check[96];
        Format(check, sizeof check, "a write %lu ms before the camera goes ends, and it goes",
               delay);
        Expect(raced && took < 3000, check, "result %d after %lu ms, out %d", ok, took, raced);
    }

    // Back in: the next write reaches it without the host starting again.
    const bool in = PlugCamera(true);
    ok = live->Set_Flip(1);
    const bool camera = CameraHolds(48, &held);
    Expect(in && ok && camera && held == 1, "after the camera is back, the next Set_ reaches it",
           "in %d, result %d, camera %lu (%s)", in, ok, held, camera ? "held" : "unknown");
    // The gain set while the camera was out never reached it: back, the camera holds what its
    // driver restored, and so does the page, which the library refreshed on its own.
    PumpMessages();
    unsigned long gain = 0;
    CameraHolds(44, &gain);
    const LRESULT flip = page ? SendDlgItemMessageA(page, FlipBox, BM_GETCHECK, 0, 0) : 0;
    const LRESULT slider = page ? SendDlgItemMessageA(page, GainSlider, TBM_GETPOS, 0, 0) : -1;
    Expect(
        page && IsWindow(page) && flip == BST_CHECKED && static_cast<unsigned long>(slider) == gain,
        "the page open through the replug shows what the camera holds",
        "flip box %ld, gain slider %ld, camera gain %lu", static_cast<long>(flip),
        static_cast<long>(slider), gain);
    live->Reset_Flip();

    // The class driver idles the camera: a write gives false at once and reaches nothing; back at
    // full power, the camera holds what is stored and takes the next write.
    const unsigned long belowBefore = RequestsBelowFullPower();
    const bool idled = IdleCamera(true);
    start = GetTickCount();
    ok = live->Set_Flip(1);
    took = GetTickCount() - start;
    const unsigned long belowAfter = RequestsBelowFullPower();
    const bool woke = IdleCamera(false);
    const bool kept = CameraHolds(48, &held) && held == 0;
    const bool next = live->Reset_Flip() && CameraHolds(48, &held) && held == 0;
    Expect(idled && !ok && took < 1000 && belowAfter == belowBefore && woke && kept && next,
           "a write while the class driver idles the camera gives false at once; back, the camera "
           "holds what is stored",
           "idled %d, result %d after %lu ms, requests below full power %lu then %lu, woke %d, "
           "flip %lu, next write %d",
           idled, ok, took, belowBefore, belowAfter, woke, held, next);
    live->CloseExtensionPropDialog();
    PumpMessages();
    delete live;
}

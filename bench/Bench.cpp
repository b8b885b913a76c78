// Times four library operations against their floor: the platform calls the same work cannot do
// without, made directly. Prints medians and ratios; never fails anything. Exit code 0 unless a
// scene could not be set up at all.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DeviceChannel.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/camera/DevicePath.h"
#include "DLL/camera/UsbLayouts.h"
#include "DLL/page/LocalizedResource.h"
#include "DLL/props/KOVALTIX.h"
#include "DLL/props/PropertyTable.h"
#include "DLL/resources/PageIds.h"
#include "VirtualCamera/VirtualCamera.h"
#include "bench/BenchSupport.h"
#include "bench/Benches.h"
#include "bench/DeviceTrace.h"
#include "bench/StartUpFloor.h"

namespace {

// ---- Scenes over the virtual camera -------------------------------------------------------------

HMODULE Self() { return GetModuleHandleA(nullptr); }

// A fresh library state over the current machine, as at load.
void Restart() {
    ShutDown();
    std::memset(ExtensionPropertyTable, 0, sizeof ExtensionPropertyTable);
    StartUp(Self());
}

// The standard camera with empty driver keys, started up.
bool StandardScene(vcam::StandardCamera& camera, std::string& settingsPath) {
    ShutDown();
    vcam::Reset();
    camera = vcam::PlugStandardCamera();
    vcam::RemoveDriverKeys(camera.instanceId);
    settingsPath = vcam::CreateDriverKeys(camera.instanceId);
    if (settingsPath.empty()) return false;
    Restart();
    return TheDeviceChannel.IsOpen();
}

bool ReadDword(const std::string& keyPath, const char* name, DWORD* value) {
    DWORD size = sizeof *value;
    return RegGetValueA(HKEY_LOCAL_MACHINE, keyPath.c_str(), name, RRF_RT_REG_DWORD, nullptr, value,
                        &size) == ERROR_SUCCESS;
}

// ---- 1. Set_ of one control ---------------------------------------------------------------------

void BenchSet() {
    const char* name = "Set_Flip";
    vcam::StandardCamera camera;
    std::string settingsPath;
    if (!StandardScene(camera, settingsPath)) return Skip(name, 1.05, "the camera did not start");
    const PropertyInfo& flip = PropertyInfoTable[PropFlip];
    if (ExtensionPropertyTable[PropFlip].Enb == 0) return Skip(name, 1.05, "flip is not offered");

    HANDLE device = DeviceLayer::OpenDevice(camera.devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL);
    HKEY settings = nullptr;
    HANDLE lock = CreateMutexA(nullptr, FALSE, nullptr);
    if (device == INVALID_HANDLE_VALUE || !lock ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), 0, KEY_ALL_ACCESS, &settings) !=
            ERROR_SUCCESS)
        return Skip(name, 1.05, "the floor's handles did not open");

    {
        int refused = 0;
        const Figures figures = MeasureSetFlip(
            1000, 200,
            [&](long value) { return TimeWriteFloor(lock, device, settings, PropFlip, value); },
            &refused);
        Table.push_back({name, figures, 1.05, true});

        // The same work on both sides: one request and one value per call.
        KOVALTIX control;
        const std::size_t before = vcam::XuRequests().size();
        const bool ok = control.Set_Flip(1);
        const std::size_t sent = vcam::XuRequests().size() - before;
        DWORD stored = 0;
        if (!ok || sent != 1 || vcam::XuValue(flip.selector) != 1 ||
            !ReadDword(settingsPath, flip.baseName, &stored) || stored != 1)
            Note(Findings, "Set_Flip(1): returned %d, %u requests, camera %u, registry %lu", ok,
                 static_cast<unsigned>(sent), vcam::XuValue(flip.selector),
                 static_cast<unsigned long>(stored));
        if (refused) Note(Findings, "Set_Flip returned false %d times while timed", refused);
        Note(Notes,
             "Set_Flip: floor = request lock wait/release + one 10-byte write request on the "
             "capture interface + RegSetValueExA of \"%s\"",
             flip.baseName);

        // What Set_ does beyond the floor: its own lock and a heap copy of the request.
        SRWLOCK apply = SRWLOCK_INIT;
        const int count = 1000;
        const double extra = MedianOf(Rounds, [&] {
            return Time([&] {
                       for (int i = 0; i < count; ++i) {
                           AcquireSRWLockExclusive(&apply);
                           BYTE* volatile bytes = new BYTE[sizeof(XuControlRequest)]();
                           delete[] bytes;
                           ReleaseSRWLockExclusive(&apply);
                       }
                   }) /
                   count;
        });
        Profile.push_back("Set_ sub-steps:");
        Note(Profile, "  apply lock + heap copy of the request    %s", Format(extra).c_str());
    }
    CloseHandle(lock);
    RegCloseKey(settings);
    DeviceLayer::CloseDevice(device);
    ShutDown();
}

// ---- 2. Start-up over a large bus ---------------------------------------------------------------

struct Bus {
    std::string devicePath;
    int hubs = 0;
    int devices = 0;
};

// Ten controllers; below each root hub three tiers of hubs, a device on every hub, the camera
// on the last hub of the last controller, so that the walk visits everything before it.
Bus BuildBus() {
    Bus bus;
    vcam::UsbDevice mouse;
    mouse.vendorId = 0x046D;
    mouse.productId = 0xC077;
    vcam::UsbDevice keyboard;
    keyboard.vendorId = 0x046D;
    keyboard.productId = 0xC31C;
    vcam::HubId last = 0;
    for (int controller = 0; controller <= 9; ++controller) {
        const vcam::HubId root = vcam::AddHostController(controller, 4);
        ++bus.hubs;
        for (int a = 1; a <= 2; ++a) {
            const vcam::HubId tier1 = vcam::AttachHub(root, a, 4);
            for (int b = 1; b <= 2; ++b) {
                const vcam::HubId tier2 = vcam::AttachHub(tier1, b, 4);
                for (int c = 1; c <= 2; ++c) {
                    const vcam::HubId tier3 = vcam::AttachHub(tier2, c, 4);
                    vcam::AttachDevice(tier3, 1, mouse);
                    vcam::AttachDevice(tier3, 2, keyboard);
                    bus.devices += 2;
                    last = tier3;
                }
                vcam::AttachDevice(tier2, 3, mouse);
                ++bus.devices;
            }
            vcam::AttachDevice(tier1, 3, keyboard);
            ++bus.devices;
        }
        vcam::AttachDevice(root, 3, mouse);
        ++bus.devices;
        bus.hubs += 2 + 4 + 8;
    }
    vcam::UsbDevice camera;
    camera.vendorId = CameraVendorId;
    camera.productId = vcam::StandardProductId;
    camera.configuration = vcam::CameraConfiguration(false);
    vcam::AttachDevice(last, 4, camera);
    ++bus.devices;
    // Another capture device is listed first, so the channel passes over one interface.
    vcam::CaptureInterface other;
    other.path = vcam::DevicePath(0x046D, 0x0825, "00", "6&2c9a1b7&0&0002");
    vcam::AddCaptureInterface(other);
    vcam::CaptureInterface entry;
    entry.path = vcam::DevicePath(CameraVendorId, vcam::StandardProductId, "00");
    vcam::AddCaptureInterface(entry);
    bus.devicePath = entry.path;
    return bus;
}

// The recording less the hub search's fallback blocks that no request ever used (it takes one
// for the older connection request on every hub, needed only when the newer one fails).
std::vector<DeviceTrace::Event> WithoutUnusedFallbacks(
    const std::vector<DeviceTrace::Event>& events, int* dropped) {
    using DeviceTrace::Call;
    const std::size_t n = events.size();
    std::vector<bool> used(n, false), drop(n, false);
    for (const DeviceTrace::Event& e : events) {
        if (e.call != Call::IoControl) continue;
        if (e.inBlock >= 0) used[e.inBlock] = true;
        if (e.outBlock >= 0) used[e.outBlock] = true;
    }
    *dropped = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (events[i].call == Call::Alloc && events[i].size == ConnectionInfoBlockSize &&
            !used[i]) {
            drop[i] = true;
            ++*dropped;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        const DeviceTrace::Event& e = events[i];
        if (e.call == Call::Free && e.object >= 0 && drop[e.object]) drop[i] = true;
    }
    std::vector<int> moved(n, -1);
    std::vector<DeviceTrace::Event> kept;
    for (std::size_t i = 0; i < n; ++i) {
        if (drop[i]) continue;
        moved[i] = static_cast<int>(kept.size());
        kept.push_back(events[i]);
    }
    auto remap = [&](int& index) {
        if (index >= 0) index = moved[index];
    };
    for (DeviceTrace::Event& e : kept) {
        remap(e.object);
        remap(e.inBlock);
        remap(e.outBlock);
    }
    return kept;
}

void BenchStartUp() {
    const char* name = "start-up + shut-down";
    ShutDown();
    vcam::Reset();
    // Plain heap blocks, as the shipped device layer hands out, not the guard pages of the tests.
    vcam::SetGuardedBlocks(false);
    const Bus bus = BuildBus();
    const std::string instanceId = vcam::InstanceIdFromPath(bus.devicePath);
    vcam::RemoveDriverKeys(instanceId);
    if (vcam::CreateDriverKeys(instanceId).empty())
        return Skip(name, 1.05, "the driver keys could not be made");

    RecordedStartUp run;
    std::string why;
    if (!RecordStartUp(Self(), &run, &why)) return Skip(name, 1.05, why.c_str());
    if (_stricmp(run.devicePath.c_str(), bus.devicePath.c_str()) != 0)
        return Skip(name, 1.05, "start-up opened another interface than the camera's");
    if (vcam::OpenHandles() != 0 || vcam::LiveBlocks() != 0)
        Note(Findings, "start-up + shut-down left %s", vcam::Describe().c_str());

    const Figures figures = MeasureStartUp(Self(), run);
    Table.push_back({name, figures, 1.05, true});
    if (vcam::OpenHandles() != 0 || vcam::LiveBlocks() != 0 || vcam::BadReleases() != 0 ||
        vcam::ProtocolErrors() != 0)
        Note(Findings, "after the start-up rounds: %s", vcam::Describe().c_str());
    Note(Notes,
         "start-up: %d hubs, %d devices; floor = the library's own %d device-layer calls "
         "(%d opens, %d hub requests, %d blocks, %d others), recorded once and played back, "
         "plus the channel's %d registry reads, key opens and mutex in the library's order",
         bus.hubs, bus.devices, static_cast<int>(run.replay.Events().size()), run.opens,
         run.requests, run.blocks, run.other, static_cast<int>(run.channel.names.size()) + 2);
    DeviceTrace::Replay& replay = run.replay;
    ChannelFloor& channel = run.channel;

    // Where the library's own share goes.
    Profile.push_back("start-up sub-steps:");
    {
        // Name conversion: two WideCharToMultiByte per hub name, as NarrowString does.
        const wchar_t* sample =
            L"USB#VID_05E3&PID_0610#5&3a0042&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
        const int names = bus.hubs;
        const double convert = MedianOf(Rounds, [&] {
            return Time([&] {
                char text[160];
                for (int i = 0; i < names; ++i) {
                    WideCharToMultiByte(CP_ACP, 0, sample, -1, nullptr, 0, nullptr, nullptr);
                    WideCharToMultiByte(CP_ACP, 0, sample, -1, text, sizeof text, nullptr, nullptr);
                }
            });
        });
        Note(Profile, "  %d hub names to ANSI (2 calls each)      %s", names,
             Format(convert).c_str());
    }
    const double walk = MedianOf(
        Rounds, [&] { return Time([&] { replay.Run([](std::size_t) {}, [](std::size_t) {}); }); });
    Note(Profile, "  floor: device-layer calls alone          %s", Format(walk).c_str());
    int dropped = 0;
    DeviceTrace::Replay leaner(WithoutUnusedFallbacks(replay.Events(), &dropped));
    const double lean = MedianOf(
        Rounds, [&] { return Time([&] { leaner.Run([](std::size_t) {}, [](std::size_t) {}); }); });
    Note(Profile, "  the same without %d unused fallback blocks %s", dropped, Format(lean).c_str());
    const double keys = MedianOf(Rounds, [&] {
        return Time([&] {
            channel.OpenSettings();
            channel.Load();
            RegCloseKey(channel.settings);
            CloseHandle(channel.lock);
        });
    });
    Note(Profile, "  floor: registry and mutex alone          %s", Format(keys).c_str());
    vcam::SetGuardedBlocks(true);
    ShutDown();
}

// ---- 3. The property page -----------------------------------------------------------------------

int Pump() {
    int quits = 0;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        // The page ends its thread's loop when it goes; this host outlives it.
        if (message.message == WM_QUIT) {
            ++quits;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return quits;
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

HWND MakeHostWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = Self();
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "KovaltixBenchHost";
    RegisterClassA(&windowClass);
    HWND host =
        CreateWindowExA(0, windowClass.lpszClassName, "Page host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        20, 20, 520, 480, nullptr, nullptr, Self(), nullptr);
    Pump();
    return host;
}

void BenchPage() {
    const char* name = "page create + close";
    vcam::StandardCamera camera;
    std::string settingsPath;
    if (!StandardScene(camera, settingsPath)) return Skip(name, 1.05, "the camera did not start");
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HWND host = MakeHostWindow();
    const int dialogType = static_cast<int>(reinterpret_cast<ULONG_PTR>(RT_DIALOG));
    const auto* page = static_cast<LPCDLGTEMPLATEA>(
        FindLocalizedResource(Self(), dialogType, IDD_EXTENSION_PAGE, nullptr));
    if (!host || !page) {
        if (host) DestroyWindow(host);
        return Skip(name, 1.05, "no host window or no page template");
    }
    {
        KOVALTIX owner;  // the first object while the camera is present: the live instance
        int missing = 0, quits = 0, rounds = 0;
        auto library = [&] {
            ++rounds;
            return Time([&] {
                char title[64];
                if (!owner.CreateExtensionPropDialog(host, title, sizeof title)) ++missing;
                Pump();
                owner.CloseExtensionPropDialog();
                quits += Pump();
            });
        };
        auto floor = [&] {
            return Time([&] {
                HWND dialog = CreateDialogIndirectParamA(Self(), page, host, &PlainDialogProc, 0);
                ShowWindow(dialog, SW_SHOWNORMAL);
                Pump();
                DestroyWindow(dialog);
                Pump();
            });
        };
        const Figures figures = Measure(8, 3, library, floor);
        Table.push_back({name, figures, 1.05, true});
        if (missing) Note(Findings, "CreateExtensionPropDialog gave no page %d times", missing);
        if (quits != rounds) Note(Findings, "%d pages closed, %d WM_QUIT seen", rounds, quits);
        Note(Notes,
             "page: floor = CreateDialogIndirectParamA of the same template (id %d) with a "
             "dialog procedure that does nothing, ShowWindow, DestroyWindow; both sides pump "
             "the queue empty after showing and after closing",
             IDD_EXTENSION_PAGE);

        // What the page does beyond the floor: finding its template and title, then binding.
        const double lookup = MedianOf(Rounds, [&] {
            return Time(
                [&] { FindLocalizedResource(Self(), dialogType, IDD_EXTENSION_PAGE, nullptr); });
        });
        const double title = MedianOf(Rounds, [&] {
            return Time([&] {
                char text[64];
                LoadPageTitle(Self(), text, sizeof text);
            });
        });
        Profile.push_back("page sub-steps:");
        Note(Profile, "  template lookup (20 languages)           %s", Format(lookup).c_str());
        Note(Profile, "  title lookup                             %s", Format(title).c_str());
        Note(Profile, "  library - floor - lookups (the binding)  %s",
             Format(figures.library - figures.floor - lookup - title).c_str());

        // The call the binding makes most of, on a page not yet shown as when it binds: control
        // lookups by id (each bound control once per open, 23; none at close). Timed alone, at
        // another moment: a scale for the gap, not a share of it.
        HWND probe = CreateDialogIndirectParamA(Self(), page, host, &PlainDialogProc, 0);
        const double lookups = MedianOf(Rounds, [&] {
            return Time([&] {
                for (int i = 0; i < 23; ++i) GetDlgItem(probe, IDC_WB_RED_SLIDER + i);
            });
        });
        DestroyWindow(probe);
        Pump();
        Note(Profile, "    for scale: 23 GetDlgItem alone          %s", Format(lookups).c_str());
    }
    DestroyWindow(host);
    Pump();
    ShutDown();
}

bool Wanted(int argc, char** argv, const char* name) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i)
        if (_stricmp(argv[i], name) == 0) return true;
    return false;
}

}  // namespace

// Arguments pick operations (set, startup, page, installer); none: all four.
int main(int argc, char** argv) {
    const double start = Seconds();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    using WineVersion = const char*(CDECL*)();
    const auto wineVersion = reinterpret_cast<WineVersion>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"));
    std::printf("Kovaltix benchmark: medians of %d rounds, per operation%s%s\n\n", Rounds,
                wineVersion ? ", Wine " : "", wineVersion ? wineVersion() : "");

    if (Wanted(argc, argv, "set")) BenchSet();
    if (Wanted(argc, argv, "startup")) BenchStartUp();
    if (Wanted(argc, argv, "page")) BenchPage();
    if (Wanted(argc, argv, "installer")) BenchInstaller();
    // The prefix may be a test program's too: no driver keys of ours stay behind.
    ShutDown();
    vcam::RemoveDriverKeys(
        vcam::InstanceIdFromPath(vcam::DevicePath(CameraVendorId, vcam::StandardProductId, "00")));
    vcam::Reset();

    const int measured = PrintReport();
    std::printf("\nWhole run: %.1f s\n", Seconds() - start);
    return measured > 0 ? 0 : 1;
}

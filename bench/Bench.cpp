// Times four library operations against their floor: the platform calls the same work cannot do
// without, made directly. Prints medians and ratios; never fails anything. Exit code 0 unless a
// scene could not be set up at all.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>
#include <shlobj.h>
#include <shobjidl.h>

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
#include "Installer/DLL/BRALIMOND.h"
#include "Installer/DLL/InstallManifest.h"
#include "VirtualCamera/VirtualCamera.h"
#include "tests/common/TestPaths.h"
#include "bench/BenchSupport.h"
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
        KOVALTIX control;
        long next = 1;
        int refused = 0;
        auto library = [&] {
            const long value = next;
            next ^= 1;
            return Time([&] {
                if (!control.Set_Flip(value)) ++refused;
            });
        };
        auto floor = [&] {
            const long value = next;
            next ^= 1;
            return Time([&] {
                XuControlRequest request = {};
                request.Direction = XuDirectionWrite;
                request.RequestCode = XuSetRequestCode;
                request.Selector = flip.selector;
                request.ControlValue = static_cast<USHORT>(value & 0xFFFF);
                DWORD returned = 0;
                WaitForSingleObject(lock, INFINITE);
                DeviceLayer::IoControl(device, XuControlIoctl, &request, sizeof request, nullptr, 0,
                                       &returned);
                ReleaseMutex(lock);
                RegSetValueExA(settings, flip.baseName, 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&value), sizeof value);
            });
        };
        const Figures figures = Measure(1000, 200, library, floor);
        Table.push_back({name, figures, 1.05, true});

        // The same work on both sides: one request and one value per call.
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
    if (!StandardScene(camera, settingsPath)) return Skip(name, 1.2, "the camera did not start");
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HWND host = MakeHostWindow();
    const int dialogType = static_cast<int>(reinterpret_cast<ULONG_PTR>(RT_DIALOG));
    const auto* page = static_cast<LPCDLGTEMPLATEA>(
        FindLocalizedResource(Self(), dialogType, IDD_EXTENSION_PAGE, nullptr));
    if (!host || !page) {
        if (host) DestroyWindow(host);
        return Skip(name, 1.2, "no host window or no page template");
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
        Table.push_back({name, figures, 1.2, true});
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

// ---- 4. Install and uninstall -------------------------------------------------------------------

std::string ExeFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n < MAX_PATH ? n : 0);
    const std::size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

std::string ShellFolder(int csidl) {
    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, folder, csidl, TRUE);
    return folder;
}

bool WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

struct Shortcut {
    std::string target, description, arguments, workingDirectory;
    std::wstring link;
};

// Everything the installation touches, named before the clock runs.
struct Installation {
    std::string root = "C:\\kovaltix-bench";
    std::string source = root + "\\source\\";
    std::string base = root + "\\Program Files";
    std::string parent = "Vendor";
    std::string product = "Kovaltix Bench";
    std::string productName = "KovaltixBench";
    std::string displayName = "Kovaltix Bench Uninstall";
    std::string folder = base + "\\" + parent + "\\" + product;
    std::string entryKey =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productName;
    std::string uninstallCommand = "\"" + folder + "\\MERSIVO.exe\" /uninstall";
    std::string settingsFile = folder + "\\Installer.ini";
    std::string driverInstaller = folder + "\\DPInst.exe";
    std::string installCommand =
        "DPInst.exe /q /lm /se /f /sa /sw /path \"" + folder + "\\driver\"";
    std::string removeCommand = "DPInst.exe /u \"" + folder + "\\driver\\VK4M220FL.inf\" /d /q";
    std::string desktop, programs, startMenuFolder, desktopLink;
    std::vector<std::string> folders;  // made in this order
    std::vector<std::pair<std::string, std::string>> copies;
    std::vector<Shortcut> shortcuts;
    std::string systemCopy;

    Installation() {
        desktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
        programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
        startMenuFolder = programs + "\\" + product;
        desktopLink = desktop + "\\" + productName + ".lnk";
        char system[MAX_PATH] = "";
        GetSystemDirectoryA(system, MAX_PATH);
        folders = {base, base + "\\" + parent, folder, folder + "\\driver"};
        for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e) {
            const std::string file = std::string(e->baseName) + e->extension;
            const bool driver = e->kind == DriverFile || e->kind == DriverInf;
            const std::string to = e->kind == SystemFile ? std::string(system)
                                   : driver              ? folder + "\\driver"
                                                         : folder;
            copies.emplace_back(source + (driver ? "driver\\" : "") + file, to + "\\" + file);
            if (e->kind == SystemFile) systemCopy = to + "\\" + file;
        }
        const std::string program = folder + "\\KOVALTIX.exe";
        const std::string setup = folder + "\\MERSIVO.exe";
        shortcuts = {
            {program, productName, "", folder, Wide(desktopLink)},
            {setup, displayName, "/uninstall", folder,
             Wide(startMenuFolder + "\\" + displayName + ".lnk")},
            {program, productName, "", folder, Wide(startMenuFolder + "\\" + productName + ".lnk")},
        };
    }

    static std::wstring Wide(const std::string& text) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH);
        return wide;
    }

    // A source folder with every manifest file, as the installer tests make it.
    bool MakeSource() const {
        const std::string bin = ExeFolder();
        if (!CreateDirectoryA(root.c_str(), nullptr) ||
            !CreateDirectoryA(source.c_str(), nullptr) ||
            !CreateDirectoryA((source + "driver").c_str(), nullptr))
            return false;
        for (const auto& copy : copies) {
            const std::string& path = copy.first;
            const std::string file = path.substr(path.find_last_of('\\') + 1);
            bool ok;
            if (file == "DPInst.exe")
                ok = CopyFileA((bin + "DPInst.exe").c_str(), path.c_str(), FALSE);
            else if (file == "BRALIMOND.dll" || file == "KOVALTIX.dll")
                ok = CopyFileA((bin + "BRALIMOND.dll").c_str(), path.c_str(), FALSE);
            else if (file == "Installer.ini")
                ok = WriteText(path, "[Version]\r\nRelease=3\r\n");
            else
                ok = WriteText(path, file + " from the source folder\r\n");
            if (!ok) return false;
        }
        return true;
    }

    void Clean() const {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, entryKey.c_str());
        DeleteFileA(desktopLink.c_str());
        RemoveTree(startMenuFolder);
        DeleteFileA(systemCopy.c_str());
        RemoveTree(root);
    }
};

bool RunAndWait(const std::string& program, const std::string& command, DWORD* exitCode) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    const BOOL ok = GetExitCodeProcess(process.hProcess, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ok != FALSE;
}

// The file's volume and index: what the in-use scan compares, whatever a path's spelling.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(file, info);
    CloseHandle(file);
    return ok != FALSE;
}

// True when some process has the file loaded: the check the uninstall must make before it
// removes the system copy, in its plainest form.
bool LoadedAnywhere(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION wanted;
    if (!FileIdentity(path, &wanted)) return false;
    DWORD processes[1024];
    DWORD bytes = 0;
    if (!EnumProcesses(processes, sizeof processes, &bytes)) return false;
    bool found = false;
    for (DWORD p = 0; p < bytes / sizeof processes[0] && !found; ++p) {
        HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processes[p]);
        if (!process) continue;
        HMODULE modules[1024];
        DWORD moduleBytes = 0;
        if (EnumProcessModules(process, modules, sizeof modules, &moduleBytes)) {
            const DWORD count = std::min<DWORD>(moduleBytes / sizeof modules[0], 1024);
            for (DWORD m = 0; m < count && !found; ++m) {
                char name[MAX_PATH];
                BY_HANDLE_FILE_INFORMATION loaded;
                found = GetModuleFileNameExA(process, modules[m], name, MAX_PATH) != 0 &&
                        FileIdentity(name, &loaded) &&
                        loaded.dwVolumeSerialNumber == wanted.dwVolumeSerialNumber &&
                        loaded.nFileIndexHigh == wanted.nFileIndexHigh &&
                        loaded.nFileIndexLow == wanted.nFileIndexLow;
            }
        }
        CloseHandle(process);
    }
    return found;
}

bool SaveShortcut(const Shortcut& s) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    if (ok) {
        link->SetPath(s.target.c_str());
        link->SetDescription(s.description.c_str());
        link->SetArguments(s.arguments.empty() ? nullptr : s.arguments.c_str());
        link->SetWorkingDirectory(s.workingDirectory.c_str());
        link->SetIconLocation(nullptr, 0);
        link->SetShowCmd(SW_SHOWNORMAL);
        ok = SUCCEEDED(file->Save(s.link.c_str(), TRUE));
        file->Release();
    }
    link->Release();
    return ok;
}

struct InstallFloor {
    const Installation& at;

    bool Install() const {
        for (const std::string& folder : at.folders) CreateDirectoryA(folder.c_str(), nullptr);
        bool ok = true;
        for (const auto& copy : at.copies)
            ok &= CopyFileA(copy.first.c_str(), copy.second.c_str(), FALSE) != FALSE;
        HKEY key = nullptr;
        ok &= RegCreateKeyExA(HKEY_LOCAL_MACHINE, at.entryKey.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                              nullptr) == ERROR_SUCCESS;
        RegSetValueExA(key, "DisplayName", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(at.displayName.c_str()),
                       static_cast<DWORD>(at.displayName.size() + 1));
        RegSetValueExA(key, "UninstallString", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(at.uninstallCommand.c_str()),
                       static_cast<DWORD>(at.uninstallCommand.size() + 1));
        RegCloseKey(key);
        WritePrivateProfileStringA("Installer", "DesctopShortCut", "1", at.settingsFile.c_str());
        WritePrivateProfileStringA("Installer", "StartMenuShortCut", "1", at.settingsFile.c_str());
        char folder[MAX_PATH];
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, TRUE);
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_PROGRAMS, TRUE);
        CreateDirectoryA(at.startMenuFolder.c_str(), nullptr);
        ok &= SUCCEEDED(CoInitialize(nullptr));
        for (const Shortcut& s : at.shortcuts) ok &= SaveShortcut(s);
        CoUninitialize();
        DWORD exitCode = 0;
        return RunAndWait(at.driverInstaller, at.installCommand, &exitCode) && exitCode == 1 && ok;
    }

    bool Uninstall() const {
        if (LoadedAnywhere(at.systemCopy)) return false;
        DWORD exitCode = 1;
        if (!RunAndWait(at.driverInstaller, at.removeCommand, &exitCode) || exitCode != 0)
            return false;
        GetPrivateProfileIntA("Installer", "DesctopShortCut", 0, at.settingsFile.c_str());
        GetPrivateProfileIntA("Installer", "StartMenuShortCut", 0, at.settingsFile.c_str());
        char folder[MAX_PATH];
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
        DeleteFileA(at.desktopLink.c_str());
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_PROGRAMS, FALSE);
        for (std::size_t i = 1; i < at.shortcuts.size(); ++i)
            DeleteFileW(at.shortcuts[i].link.c_str());
        RemoveDirectoryA(at.startMenuFolder.c_str());
        // The entry is read before it goes: only the folder it names is removed.
        HKEY key = nullptr;
        char command[2 * MAX_PATH];
        DWORD size = sizeof command;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, at.entryKey.c_str(), 0, KEY_QUERY_VALUE, &key);
        RegQueryValueExA(key, "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(command),
                         &size);
        RegCloseKey(key);
        const bool ok = RegDeleteKeyA(HKEY_LOCAL_MACHINE, at.entryKey.c_str()) == ERROR_SUCCESS;
        for (const auto& copy : at.copies) DeleteFileA(copy.second.c_str());
        RemoveDirectoryA(at.folders[3].c_str());
        RemoveDirectoryA(at.folders[2].c_str());
        return ok;
    }
};

void BenchInstaller() {
    const char* name = "install + uninstall";
    const Installation at;
    at.Clean();
    if (!at.MakeSource()) {
        at.Clean();
        return Skip(name, 1.2, "the source folder could not be made");
    }
    SetEnvironmentVariableA("DPINST_LOG", nullptr);
    HMODULE sourceModule = LoadLibraryA((at.source + "BRALIMOND.dll").c_str());
    if (!sourceModule) {
        at.Clean();
        return Skip(name, 1.2, "the source folder's library did not load");
    }
    InstallContext context = {};
    context.module = sourceModule;
    std::strcpy(context.baseFolder, at.base.c_str());
    std::strcpy(context.parentFolder, at.parent.c_str());
    std::strcpy(context.productFolder, at.product.c_str());
    std::strcpy(context.productName, at.productName.c_str());
    std::strcpy(context.displayName, at.displayName.c_str());
    context.desktopShortcut = 1;
    context.startMenuShortcut = 1;

    int failedInstalls = 0, failedRemovals = 0;
    // The uninstall runs from the installed copy of the library, as a setup program would; loading
    // and freeing it is the caller's work and stays off the clock, on both sides.
    auto roundTrip = [&](const std::function<bool()>& install,
                         const std::function<bool(HMODULE)>& uninstall) {
        SetEnvironmentVariableA("DPINST_EXIT", "1");
        double seconds = 0;
        bool ok = true;
        seconds += Time([&] { ok = install(); });
        if (!ok) ++failedInstalls;
        HMODULE installed = LoadLibraryA((at.folder + "\\BRALIMOND.dll").c_str());
        SetEnvironmentVariableA("DPINST_EXIT", "0");
        seconds += Time([&] { ok = uninstall(installed); });
        if (!ok) ++failedRemovals;
        if (installed) FreeLibrary(installed);
        return seconds;
    };
    auto library = [&] {
        return roundTrip([&] { return Installer(&context); },
                         [&](HMODULE installed) {
                             InstallContext removal = context;
                             removal.module = installed;
                             return installed && Uninstaller(&removal);
                         });
    };
    const InstallFloor floorSide{at};
    auto floor = [&] {
        return roundTrip([&] { return floorSide.Install(); },
                         [&](HMODULE) { return floorSide.Uninstall(); });
    };
    const Figures figures = Measure(2, 1, library, floor);
    Table.push_back({name, figures, 1.2, true});
    if (failedInstalls || failedRemovals)
        Note(Findings, "install/uninstall: %d installs and %d uninstalls reported failure",
             failedInstalls, failedRemovals);
    Note(Notes,
         "installer: floor = the same %d file copies, Uninstall entry, settings file entries, 3 "
         "shortcuts (one COM session), the in-use scan, the driver installer started and waited "
         "for twice, and the same removals; both sides run the DPInst stand-in",
         static_cast<int>(at.copies.size()));

    Profile.push_back("installer sub-steps:");
    const double driverRun = MedianOf(5, [&] {
        DWORD code = 0;
        return Time([&] { RunAndWait(ExeFolder() + "DPInst.exe", at.installCommand, &code); });
    });
    Note(Profile, "  driver installer start + wait (each)   %s", Format(driverRun).c_str());
    // The system copy is gone by now: a file that exists and that no process has loaded makes
    // the scan look at every module, as during an uninstall.
    const std::string unloaded = ExeFolder() + "DPInst.exe";
    const double scan = MedianOf(5, [&] { return Time([&] { LoadedAnywhere(unloaded); }); });
    Note(Profile, "  in-use scan of all processes             %s", Format(scan).c_str());
    const double others = 2 * driverRun;
    Note(Profile, "  without the 2 driver installer runs:     library %s, floor %s, ratio %.3f",
         Format(figures.library - others).c_str(), Format(figures.floor - others).c_str(),
         (figures.library - others) / (figures.floor - others));
    const double flush = MedianOf(Rounds, [&] {
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                      0, KEY_CREATE_SUB_KEY, &key);
        const double t = Time([&] { RegFlushKey(key); });
        RegCloseKey(key);
        return t;
    });
    Note(Profile, "  RegFlushKey (the library makes 2)        %s", Format(flush).c_str());
    auto makeLink = [] {
        IShellLinkA* link = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkA, reinterpret_cast<void**>(&link))))
            link->Release();
    };
    const double session = MedianOf(Rounds, [&] {
        return Time([&] {
            CoInitialize(nullptr);
            makeLink();
            CoUninitialize();
        });
    });
    CoInitialize(nullptr);
    const double inSession = MedianOf(Rounds, [&] { return Time(makeLink); });
    CoUninitialize();
    Note(Profile, "  COM session of its own per shortcut      %s extra (library: 3, floor: 1)",
         Format(session - inSession).c_str());
    // File-system checks the library makes and the floor does not: a folder test before every
    // copy and shortcut, a link test, listing each folder it removes twice, and canonical forms
    // of two folders to compare.
    const std::string listed[] = {at.source + "*.*", at.source + "driver\\*.*"};
    const double checks = MedianOf(Rounds, [&] {
        return Time([&] {
            for (int i = 0; i < 20; ++i) GetFileAttributesA(at.source.c_str());
            for (int i = 0; i < 6; ++i) {
                WIN32_FIND_DATAA entry;
                HANDLE search = FindFirstFileA(listed[i % 2].c_str(), &entry);
                if (search == INVALID_HANDLE_VALUE) continue;
                while (FindNextFileA(search, &entry)) {
                }
                FindClose(search);
            }
            for (int i = 0; i < 2; ++i) {
                char full[MAX_PATH], longer[MAX_PATH];
                GetFullPathNameA(at.source.c_str(), MAX_PATH, full, nullptr);
                GetLongPathNameA(full, longer, MAX_PATH);
            }
        });
    });
    Note(Profile, "  20 folder tests, 6 listings, 2 long paths %s", Format(checks).c_str());

    FreeLibrary(sourceModule);
    SetEnvironmentVariableA("DPINST_EXIT", nullptr);
    at.Clean();
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

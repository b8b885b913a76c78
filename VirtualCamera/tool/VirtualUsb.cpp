// VirtualUsb.exe: the virtual USB hardware's switchboard for tests and the demo.
//   VirtualUsb install <folder>        installs the bus driver (VirtualUsb.inf) as a root device,
//                                       and the USB video class driver stand-in (usbvideo.inf,
//                                       ks.inf, kscaptur.inf, usbvideo.sys) where the platform's
//                                       own would be
//   VirtualUsb plug <scene file>        plugs a scene in (see VirtualCamera/Scene.h)
//   VirtualUsb unplug                   pulls the whole bus out
//   VirtualUsb camera out|in|replug     the scene's camera alone
//   VirtualUsb camera hold|answer       a camera that holds every vendor request until it is
//                                       cancelled, or one that answers again
//   VirtualUsb camera suspend|resume    the class driver idles the camera (selective suspend), or
//                                       brings it back to full power
//   VirtualUsb system sleep|hibernate|wake
//                                       the machine sleeps (S3), hibernates (S4) or wakes: the
//                                       system power request goes to the camera's stack
//   VirtualUsb value <selector>         what the camera holds for a selector (its power-on value
//                                       until a driver writes it)
//   VirtualUsb ready                    after a step that failed or hung: the camera answers, is
//                                       at full power, plugged in and its driver started
// "in", "replug" and "plug" wait until the platform has taken the camera in; with --driver,
// until its driver has started it. Exit code 0 on success.
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "VirtualCamera/Scene.h"
#include "VirtualCamera/tool/VirtualBus.h"

namespace {

const DWORD WaitMs = 15000;
const char HardwareId[] = "root\\KovaltixVirtualUsb";

int Usage() {
    std::fprintf(stderr,
                 "usage: VirtualUsb install <folder> | plug <scene> [--driver] | unplug |\n"
                 "       camera out|in|replug [--driver] | camera hold|answer |\n"
                 "       camera suspend|resume | system sleep|hibernate|wake |\n"
                 "       value <selector> | ready\n");
    return 2;
}

int Failed(const char* what) {
    std::fprintf(stderr, "VirtualUsb: %s (error %lu)\n", what, GetLastError());
    return 1;
}

// What Windows has and Wine lacks, where the platform keeps its own: the USB video class driver
// stand-in and the INFs whose sections a camera INF Needs. A copy still in use (the class driver
// of a camera plugged in) stays as it is.
bool PlacePlatformStandIns(const std::string& folder) {
    char windows[MAX_PATH], system[MAX_PATH];
    if (!GetWindowsDirectoryA(windows, MAX_PATH) || !GetSystemDirectoryA(system, MAX_PATH))
        return false;
    const std::pair<const char*, std::string> files[] = {
        {"usbvideo.inf", std::string(windows) + "\\inf"},
        {"ks.inf", std::string(windows) + "\\inf"},
        {"kscaptur.inf", std::string(windows) + "\\inf"},
        {"usbvideo.sys", std::string(system) + "\\drivers"}};
    for (const auto& file : files) {
        const std::string from = folder + "\\" + file.first, to = file.second + "\\" + file.first;
        if (!CopyFileA(from.c_str(), to.c_str(), FALSE) &&
            GetFileAttributesA(to.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::fprintf(stderr, "VirtualUsb: %s could not be placed in %s\n", file.first,
                         file.second.c_str());
            return false;
        }
    }
    return true;
}

// The bus as a root-enumerated device of its own INF, as a driver package installs one, and the
// platform's pieces that the tests stand in for.
int Install(const std::string& folder) {
    if (!PlacePlatformStandIns(folder)) return Failed("the platform's stand-ins are missing");
    VirtualBus bus;
    if (bus.Open()) return 0;
    char inf[MAX_PATH];
    if (GetFullPathNameA((folder + "\\VirtualUsb.inf").c_str(), MAX_PATH, inf, nullptr) == 0)
        return Failed("no INF path");
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return Failed("no device list");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    // Registered once; a second install finds it there and only brings its driver.
    static const GUID systemClass = {
        0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    char ids[sizeof HardwareId + 1] = {};
    std::memcpy(ids, HardwareId, sizeof HardwareId);
    bool registered =
        SetupDiCreateDeviceInfoA(set, "ROOT\\KOVALTIXVIRTUALUSB\\0000", &systemClass, nullptr,
                                 nullptr, 0, &device) &&
        SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                          reinterpret_cast<const BYTE*>(ids), sizeof ids) &&
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    const DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    if (!registered && error != ERROR_DEVINST_ALREADY_EXISTS) return Failed("no root device");
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, HardwareId, inf, INSTALLFLAG_FORCE, &reboot))
        return Failed("the bus driver did not install");
    for (DWORD waited = 0; !bus.Open(); waited += 20) {
        if (waited > WaitMs) return Failed("the bus driver did not start");
        Sleep(20);
    }
    return 0;
}

// Whatever a failed step left: a camera held, asleep, idle, pulled out or not started.
int Ready(const VirtualBus& bus) {
    VusbBusStatus status = {};
    if (!bus.HoldRequests(false) || !bus.Status(&status)) return Failed("no status");
    if (status.cameraPlugged && status.cameraStarted && status.cameraPower != 1) {
        bus.SystemPower(VUSB_SYSTEM_WORKING);
        bus.IdleCamera(false);
    }
    if (status.cameraPlugged && !status.cameraStarted && !bus.UnplugCamera(WaitMs))
        return Failed("camera out");
    return bus.PlugCamera(true, WaitMs) ? 0 : Failed("camera in");
}

int Plug(const std::string& path, bool driver) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return Failed("no scene file");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const size_t slash = path.find_last_of("\\/");
    vcam::Scene scene;
    std::string error;
    if (!vcam::ParseScene(text, slash == std::string::npos ? "." : path.substr(0, slash), &scene,
                          &error)) {
        std::fprintf(stderr, "VirtualUsb: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    VirtualBus bus;
    if (!bus.Open()) return Failed("no virtual bus");
    // The bus that is there goes first, its camera's stack removed, as a hub reports a device
    // gone before another one comes: Wine starts a stack reported with the same breath before it
    // removes the old one, whose interfaces then stand in the new one's way.
    VusbBusStatus status = {};
    if (!bus.Status(&status) ||
        (status.busPlugged && (!bus.UnplugBus() || !bus.WaitForCameraGone(WaitMs))))
        return Failed("the bus plugged in before did not go");
    if (!bus.PlugBus(scene.Bytes())) return Failed("the bus refused the scene");
    if (scene.Hardware().cameraHub && !bus.WaitForCamera(driver, WaitMs))
        return Failed("the platform did not take the camera in");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    const bool driver = std::strcmp(argv[argc - 1], "--driver") == 0;
    if (command == "install" && argc == 3) return Install(argv[2]);
    if (command == "plug" && (argc == 3 || (argc == 4 && driver))) return Plug(argv[2], driver);
    VirtualBus bus;
    if (!bus.Open()) return Failed("no virtual bus");
    if (command == "unplug" && argc == 2) return bus.UnplugBus() ? 0 : Failed("unplug");
    if (command == "ready" && argc == 2) return Ready(bus);
    if (command == "camera" && argc >= 3) {
        const std::string how = argv[2];
        if (how == "out") return bus.UnplugCamera(WaitMs) ? 0 : Failed("camera out");
        if (how == "in") return bus.PlugCamera(driver, WaitMs) ? 0 : Failed("camera in");
        if (how == "hold" || how == "answer")
            return bus.HoldRequests(how == "hold") ? 0 : Failed("camera hold");
        if (how == "suspend" || how == "resume")
            return bus.IdleCamera(how == "suspend") ? 0 : Failed("camera suspend");
        if (how == "replug")
            return bus.UnplugCamera(WaitMs) && bus.PlugCamera(driver, WaitMs) ? 0
                                                                              : Failed("replug");
    }
    if (command == "system" && argc == 3) {
        const std::string to = argv[2];
        const std::uint32_t state = to == "sleep"       ? VUSB_SYSTEM_SLEEP
                                    : to == "hibernate" ? VUSB_SYSTEM_HIBERNATE
                                    : to == "wake"      ? VUSB_SYSTEM_WORKING
                                                        : 0;
        if (state) return bus.SystemPower(state) ? 0 : Failed("system power");
    }
    if (command == "value" && argc == 3) {
        VusbCameraReading reading;
        if (!bus.CameraValue(static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 0)),
                             &reading))
            return Failed("value");
        if (reading.known)
            std::printf("%lu\n", static_cast<unsigned long>(reading.value));
        else
            std::printf("unknown\n");
        return 0;
    }
    return Usage();
}

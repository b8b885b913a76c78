// The standard camera of the tests and the demo: its place on the bus, its descriptor set, its
// capture interface, and its driver's keys in Wine's registry.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "Common/LittleEndian.h"
#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DevicePath.h"
#include "VirtualCamera/Machine.h"
#include "VirtualCamera/VirtualCamera.h"

namespace vcam {

// ---- The standard camera ---------------------------------------------------------------------

const char* const StandardInstance = "7&1a2b3c4d&0&0000";
const char* const StandardDriverKey = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0042";

std::vector<unsigned char> CameraConfiguration(bool powerLine, unsigned char controlSize) {
    std::vector<unsigned char> set = {
        9,  2,  0,    0,    2,    1,  0, 0x80, 0xFA,  // configuration
        8,  11, 0,    2,    14,   3,  0, 0,           // interface association: video
        9,  4,  0,    0,    1,    14, 1, 0,    0,     // interface 0: video control
        13, 36, 1,    0x10, 0x01, 0,  0, 0x80, 0x8D, 0x5B, 0x00, 1, 1,  // header
        18, 36, 2,    1,    1,    2,  0, 0,    0,    0,    0,    0, 0,
        0,  3,  0x0E, 0,    0,  // camera terminal
    };
    size_t headerAt = 26;
    // Processing unit: bUnitID 2, source 1, wMaxMultiplier 0, bControlSize, bmControls,
    // iProcessing.
    std::vector<unsigned char> unit = {
        static_cast<unsigned char>(9 + controlSize), 36, 5, 2, 1, 0, 0, controlSize};
    for (unsigned i = 0; i < controlSize; ++i) {
        unsigned char bits = i == 0 ? 0x7F : i == 1 ? 0x0B : 0x00;
        if (i == 1 && powerLine) bits |= 0x04;
        unit.push_back(bits);
    }
    unit.push_back(0);
    set.insert(set.end(), unit.begin(), unit.end());
    const unsigned char tail[] = {
        9,  36, 3,    3,    1,    1,  0,    2, 0,                 // output terminal
        7,  5,  0x83, 3,    0x10, 0,  6,                          // interrupt endpoint
        5,  37, 3,    0x10, 0,                                    // class-specific endpoint
        9,  4,  1,    0,    1,    14, 2,    0, 0,                 // interface 1: video streaming
        14, 36, 1,    1,    0,    0,  0x81, 0, 3, 0, 0, 0, 1, 0,  // input header
        7,  5,  0x81, 2,    0,    2,  0,                          // bulk endpoint
    };
    size_t controlEnd = set.size() + 9;  // the video-control descriptors end after the terminal
    set.insert(set.end(), std::begin(tail), std::end(tail));
    WriteLe16(&set[2], static_cast<USHORT>(set.size()));
    WriteLe16(&set[headerAt + 5], static_cast<USHORT>(controlEnd - headerAt));
    return set;
}

std::string DevicePath(unsigned short vendorId, unsigned short productId,
                       const std::string& interfaceText, const std::string& instance) {
    char head[64];
    std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x", vendorId, productId);
    std::string path = head;
    if (!interfaceText.empty()) path += "&mi_" + interfaceText;
    path += "#" + (instance.empty() ? std::string(StandardInstance) : instance);
    path += "#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    return path;
}

StandardCamera PlugStandardCamera(const StandardCameraOptions& options) {
    StandardCamera camera;
    camera.rootHub = AddHostController(0, 4);
    UsbDevice mouse;
    mouse.vendorId = 0x046D;
    mouse.productId = 0xC077;
    if (options.externalHub) {
        HubId other = AttachHub(camera.rootHub, 1, 2);
        AttachDevice(other, 1, mouse);
        camera.externalHub = AttachHub(camera.rootHub, 2, 4);
        camera.cameraHub = camera.externalHub;
        camera.cameraPort = 3;
    } else {
        AttachDevice(camera.rootHub, 1, mouse);
        camera.cameraHub = camera.rootHub;
        camera.cameraPort = 2;
    }
    UsbDevice device;
    device.vendorId = CameraVendorId;
    device.productId = options.productId;
    device.configuration = CameraConfiguration(options.powerLine);
    AttachDevice(camera.cameraHub, camera.cameraPort, device);
    // Its driver reads the camera's descriptor set when it puts the stored settings back.
    detail::Locked(
        [&](detail::Machine& m) { m.scene.SetCamera(camera.cameraHub, camera.cameraPort, true); });
    camera.devicePath = DevicePath(CameraVendorId, options.productId, "00");
    camera.instanceId = InstanceIdFromPath(camera.devicePath);
    CaptureInterface entry;
    entry.path = camera.devicePath;
    AddCaptureInterface(entry);
    return camera;
}

std::string InstanceIdFromPath(const std::string& devicePath) {
    std::string id;
    return DeviceInstanceId(devicePath.c_str(), devicePath.size(), &id) ? id : std::string();
}

// ---- Registry --------------------------------------------------------------------------------

namespace {
const char* const EnumRoot = "SYSTEM\\CurrentControlSet\\Enum\\";
const char* const ClassRoot = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

bool CreateKey(const std::string& path) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
}  // namespace

std::string CreateDriverKeys(const std::string& instanceId, const std::string& driverKey,
                             const RegistryOptions& options) {
    // An empty name would make the Enum or Class key itself the target.
    if (instanceId.empty() || driverKey.empty()) return "";
    std::string instancePath = EnumRoot + instanceId;
    std::string driverPath = ClassRoot + driverKey;
    std::string settingsPath = driverPath + "\\Settings";
    if (options.instanceKey) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, instancePath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return "";
        LONG status = ERROR_SUCCESS;
        if (options.driverValue)
            status = RegSetValueExA(key, "Driver", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(driverKey.c_str()),
                                    static_cast<DWORD>(driverKey.size() + 1));
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return "";
    }
    if (!CreateKey(driverPath)) return "";
    if (options.settingsKey && !CreateKey(settingsPath)) return "";
    return settingsPath;
}

void RemoveDriverKeys(const std::string& instanceId, const std::string& driverKey) {
    if (instanceId.empty() || driverKey.empty()) return;
    std::string instancePath = EnumRoot + instanceId;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, instancePath.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, instancePath.c_str());
    // The device key above the instance goes too when nothing else lives under it.
    size_t slash = instancePath.rfind('\\');
    if (slash != std::string::npos && slash > std::strlen(EnumRoot))
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, instancePath.substr(0, slash).c_str());
    std::string driverPath = ClassRoot + driverKey;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, driverPath.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, driverPath.c_str());
}

namespace detail {

std::string SettingsPathOf(const std::string& instanceId) {
    if (instanceId.empty()) return "";
    char driver[256] = "";
    DWORD size = sizeof driver - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, (EnumRoot + instanceId).c_str(), "Driver", RRF_RT_REG_SZ,
                     nullptr, driver, &size) != ERROR_SUCCESS ||
        driver[0] == '\0')
        return "";
    return ClassRoot + std::string(driver) + "\\Settings";
}

}  // namespace detail

void PlugStandardCameraForDemo() {
    Reset();
    StandardCamera camera = PlugStandardCamera();
    CreateDriverKeys(camera.instanceId);
}

}  // namespace vcam

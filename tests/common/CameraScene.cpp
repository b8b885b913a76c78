#include "tests/common/CameraScene.h"

#include <gtest/gtest.h>

#include <cstring>

#include "DLL/camera/DeviceChannel.h"
#include "DLL/props/PropertyTable.h"

void ResetLibraryState() {
    ShutDown();
    std::memset(ExtensionPropertyTable, 0, sizeof(ExtensionPropertyTable));
    UpdateMessage = 0;
}

std::ostream& operator<<(std::ostream& os, const XuWrite& w) {
    return os << "{selector 0x" << std::hex << w.selector << ", value 0x" << w.value << std::dec
              << "}";
}

CameraScene::CameraScene(const vcam::StandardCameraOptions& options) {
    ResetLibraryState();
    vcam::Reset();
    camera = vcam::PlugStandardCamera(options);
    // A previous run may have left values behind.
    vcam::RemoveDriverKeys(camera.instanceId);
    settingsPath = vcam::CreateDriverKeys(camera.instanceId);
    EXPECT_FALSE(settingsPath.empty());
}

CameraScene::CameraScene(const Settings& settings) : CameraScene(vcam::StandardCameraOptions()) {
    Store(settings);
    RunStartUp();
}

CameraScene::~CameraScene() {
    ResetLibraryState();
    vcam::RemoveDriverKeys(camera.instanceId);
}

void CameraScene::RunStartUp() {
    ResetLibraryState();
    StartUp(GetModuleHandleA(nullptr));
    Mark();
}

namespace {

void SetValue(const std::string& path, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

}  // namespace

void CameraScene::Store(const Settings& settings) {
    for (const auto& setting : settings) StoreDword(setting.first, setting.second);
}

void CameraScene::StoreDword(const char* name, DWORD value) {
    SetValue(settingsPath, name, REG_DWORD, &value, sizeof(value));
}

void CameraScene::StoreString(const char* name, const char* value) {
    SetValue(settingsPath, name, REG_SZ, value, static_cast<DWORD>(std::strlen(value) + 1));
}

void CameraScene::DeleteValue(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), 0, KEY_SET_VALUE, &key) == 0) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

bool CameraScene::StoredDword(const char* name, DWORD* value) const {
    DWORD type = 0, size = sizeof(*value);
    LONG rc = RegGetValueA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), name, RRF_RT_ANY, &type, value,
                           &size);
    return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(*value);
}

long CameraScene::Setting(const char* name) const {
    DWORD value = 0;
    return StoredDword(name, &value) ? static_cast<long>(value) : -1;
}

XuWrites CameraScene::Writes() const {
    XuWrites writes;
    auto all = vcam::XuRequests();
    for (size_t i = requestsSeen; i < all.size(); ++i) {
        const auto& in = all[i].input;
        EXPECT_EQ(10u, in.size()) << "a write without data is exactly 10 bytes";
        EXPECT_EQ(0x222004u, all[i].code);
        if (in.size() < 8) continue;
        EXPECT_EQ(1, in[0]) << "direction: write";
        EXPECT_EQ(0xC2, in[1]) << "request code";
        EXPECT_EQ(0, in[4] | in[5]) << "no data";
        writes.push_back({static_cast<unsigned short>(in[2] | in[3] << 8),
                          static_cast<unsigned short>(in[6] | in[7] << 8)});
    }
    return writes;
}

void CameraScene::Mark() { requestsSeen = vcam::XuRequests().size(); }

std::vector<unsigned short> CameraScene::ValuesOf(unsigned short selector) const {
    std::vector<unsigned short> values;
    for (const XuWrite& write : Writes()) {
        if (write.selector == selector) values.push_back(write.value);
    }
    return values;
}

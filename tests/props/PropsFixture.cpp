#include "tests/props/PropsFixture.h"
#include <cstring>
#include "DLL/camera/DeviceChannel.h"
#include "tests/common/HandleCount.h"

void ResetLibraryState() {
    ShutDown();
    std::memset(ExtensionPropertyTable, 0, sizeof(ExtensionPropertyTable));
    UpdateMessage = 0;
}

std::ostream& operator<<(std::ostream& os, const XuWrite& w) {
    return os << "{selector 0x" << std::hex << w.selector << ", value 0x" << w.value << std::dec
              << "}";
}

void CameraTest::SetUp() {
    ResetLibraryState();
    vcam::Reset();
    camera = vcam::PlugStandardCamera(options);
    settingsPath = vcam::CreateDriverKeys(camera.instanceId);
    ASSERT_FALSE(settingsPath.empty());
    // A previous run may have left values behind.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), 0, KEY_ALL_ACCESS, &key));
    char name[256];
    for (;;) {
        DWORD size = sizeof(name);
        if (RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        RegDeleteValueA(key, name);
    }
    RegCloseKey(key);
    requestsSeen = 0;
    OpenLastingHandles();
    handlesAtStart = OpenHandleCount();
    ASSERT_GE(handlesAtStart, 0);
}

void CameraTest::TearDown() {
    // Start-up, the objects and detach (below) together leave no key, mutex or other handle.
    ResetLibraryState();
    EXPECT_EQ(handlesAtStart, OpenHandleCount()) << "kernel handles left open";
    vcam::RemoveDriverKeys(camera.instanceId);
    EXPECT_EQ(0, vcam::OpenHandles()) << vcam::Describe();
    EXPECT_EQ(0, vcam::LiveBlocks()) << vcam::Describe();
    EXPECT_EQ(0, vcam::BadReleases()) << vcam::Describe();
}

void CameraTest::RunStartUp() {
    ResetLibraryState();
    StartUp(GetModuleHandleA(nullptr));
    requestsSeen = vcam::XuRequests().size();
}

static void SetValue(const std::string& path, const char* name, DWORD type, const void* data,
                     DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void CameraTest::StoreDword(const char* name, DWORD value) {
    SetValue(settingsPath, name, REG_DWORD, &value, sizeof(value));
}

void CameraTest::StoreString(const char* name, const char* value) {
    SetValue(settingsPath, name, REG_SZ, value, static_cast<DWORD>(std::strlen(value) + 1));
}

void CameraTest::DeleteValue(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), 0, KEY_SET_VALUE, &key) == 0) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

bool CameraTest::StoredDword(const char* name, DWORD* value) {
    DWORD type = 0, size = sizeof(*value);
    LONG rc = RegGetValueA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), name, RRF_RT_ANY, &type,
                           value, &size);
    return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(*value);
}

XuWrites CameraTest::Writes() {
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

void CameraTest::ClearRequests() { requestsSeen = vcam::XuRequests().size(); }

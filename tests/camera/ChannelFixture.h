#pragma once
// The device channel's test fixtures: capture interfaces of the virtual camera with their driver
// keys in Wine's registry, and a channel opened on one of them.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DeviceChannel.h"
#include "tests/camera/CameraTestSupport.h"

constexpr unsigned short Product = vcam::StandardProductId;

inline std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

inline std::string InstanceText(int n) {
    char text[32];
    std::snprintf(text, sizeof text, "7&5e6f%04x&0&0000", n);
    return text;
}

// Interfaces and registry keys made by a test are removed again at its end.
class ChannelTest : public VirtualMachineTest {
protected:
    void TearDown() override {
        channel.Close();
        for (const std::string& id : instances) vcam::RemoveDriverKeys(id, DriverKeyOf(id));
        VirtualMachineTest::TearDown();
    }

    static std::string DriverKeyOf(const std::string& instanceId) {
        // One driver instance per device instance, below the imaging class.
        unsigned sum = 0;
        for (char c : Upper(instanceId)) sum = sum * 31 + static_cast<unsigned char>(c);
        char key[80];
        std::snprintf(key, sizeof key, "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\%04u", sum % 10000);
        return key;
    }

    // Adds an interface; keys: the registry entries its driver instance has.
    int Add(const std::string& path, const vcam::RegistryOptions* keys = nullptr,
            bool openFails = false) {
        vcam::CaptureInterface entry;
        entry.path = path;
        entry.openFails = openFails;
        if (keys) {
            std::string id = vcam::InstanceIdFromPath(path);
            instances.push_back(id);
            EXPECT_FALSE(vcam::CreateDriverKeys(id, DriverKeyOf(id), *keys).empty()) << path;
            settingsPath =
                "SYSTEM\\CurrentControlSet\\Control\\Class\\" + DriverKeyOf(id) + "\\Settings";
        }
        return vcam::AddCaptureInterface(entry);
    }
    int AddWithKeys(const std::string& path, bool openFails = false) {
        vcam::RegistryOptions all;
        return Add(path, &all, openFails);
    }
    bool Open(unsigned short product = Product, unsigned short interfaceNumber = 0) {
        return channel.Open(KsCategoryCapture, CameraVendorId, product, interfaceNumber);
    }
    // Which interface the open channel talks to: the path its next request is recorded with.
    std::string OpenedPath() {
        BYTE buffer[2];
        channel.GetXuControl(0xC1, 1, 0, 2, buffer);
        std::vector<vcam::XuRecord> log = vcam::XuRequests();
        return log.empty() ? "" : log.back().path;
    }

    DeviceChannel channel;
    std::vector<std::string> instances;
    std::string settingsPath;
};

// A channel open on a camera whose Settings key holds none of the values the tests store.
class OpenChannelTest : public ChannelTest {
protected:
    void SetUp() override {
        ChannelTest::SetUp();
        camera = AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(77)));
        ASSERT_TRUE(Open());
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), 0, KEY_ALL_ACCESS, &key));
        for (const char* name : {"GainEx", "FlipEx", "Wide", "Short", "Empty"})
            RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
    void Store(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), 0, KEY_SET_VALUE, &key));
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    // Searches of the interface list so far: one per Open or reopen.
    static int Searches() { return vcam::RequestCount(vcam::Request::ClassDevs); }
    // Requests that reached the camera's driver so far.
    static size_t Reached() { return vcam::XuRequests().size(); }
    bool Flip(WORD value) { return channel.SetXuControl(0xC2, 0x30, value, 0, nullptr); }

    const DWORD fallback = 0xA5A5A5A5;
    int camera = -1;  // the interface's index
};

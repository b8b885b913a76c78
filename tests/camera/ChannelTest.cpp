#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DeviceChannel.h"
#include "DLL/camera/UsbLayouts.h"
#include "DriverPackage/XuTransfer.h"
#include "tests/camera/ChannelFixture.h"

namespace {

TEST_F(ChannelTest, ANewChannelIsClosedAndRefusesEverything) {
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00"));  // a camera after start-up
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_FALSE(TheDeviceChannel.IsOpen());
    BYTE buffer[4] = {};
    DWORD returned = 7;
    EXPECT_FALSE(channel.IoControl(XuControlIoctl, buffer, 4, buffer, 4, &returned));
    EXPECT_FALSE(channel.GetXuControl(0xC2, 0x2C, 0, 2, buffer));
    EXPECT_FALSE(channel.SetXuControl(0xC2, 0x2C, 5, 0, nullptr));
    EXPECT_TRUE(vcam::XuRequests().empty());
    EXPECT_EQ(0, vcam::RequestCount(vcam::Request::ClassDevs)) << "it never looks for one";

    DWORD value = 0, size = 4;
    const DWORD fallback = 0x12345678;
    EXPECT_FALSE(channel.ReadSetting("GainEx", REG_DWORD, &value, &size, &fallback));
    EXPECT_EQ(fallback, value);
    EXPECT_EQ(4u, size);
    EXPECT_FALSE(channel.WriteSetting("GainEx", REG_DWORD, &value, 4));
    channel.Close();
    channel.Close();
    EXPECT_FALSE(channel.IsOpen());
}

TEST_F(ChannelTest, OpensTheCameraInterfaceAndItsSettingsKey) {
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00"));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(channel.IsOpen());
    EXPECT_EQ(1, vcam::OpenHandles()) << "the interface list is destroyed, the device stays open";
    channel.Close();
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(0, vcam::OpenHandles());
    channel.Close();  // twice is harmless
    EXPECT_EQ(0, vcam::BadReleases());
}

TEST_F(ChannelTest, PathMatchIgnoresCase) {
    std::string path = Upper(vcam::DevicePath(CameraVendorId, Product, "00"));
    AddWithKeys(path);
    ASSERT_TRUE(Open());
    EXPECT_EQ(path, OpenedPath());
}

TEST_F(ChannelTest, OtherProductsAndOtherInterfacesAreNotOpened) {
    AddWithKeys(vcam::DevicePath(CameraVendorId, 0x1802, "00", InstanceText(1)));
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "01", InstanceText(2)));
    AddWithKeys(vcam::DevicePath(0x2F3B, Product, "00", InstanceText(3)));
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "", InstanceText(4)));
    AddWithKeys("\\\\?\\hid#vid_2f3a&pid_1801&mi_00#" + InstanceText(5) + "#{x}\\global");
    Add("\\\\?\\usb#vid_2f3a");  // ends early
    EXPECT_FALSE(Open());
    EXPECT_EQ(0, vcam::RequestCount(vcam::Request::InterfaceOpen));

    std::string mine = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(6));
    AddWithKeys(mine);
    ASSERT_TRUE(Open());
    EXPECT_EQ(mine, OpenedPath());
    EXPECT_EQ(1, vcam::RequestCount(vcam::Request::InterfaceOpen));
}

TEST_F(ChannelTest, HexadecimalFieldsAreComparedAsWholeNumbers) {
    // "mi_001" reads as 1, not as 0 followed by text; "mi_0" reads as 0.
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "001", InstanceText(1)));
    EXPECT_FALSE(Open());
    std::string shortForm = vcam::DevicePath(CameraVendorId, Product, "0", InstanceText(2));
    AddWithKeys(shortForm);
    ASSERT_TRUE(Open());
    EXPECT_EQ(shortForm, OpenedPath());
    channel.Close();
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "02", InstanceText(3)));
    EXPECT_TRUE(Open(Product, 2));
}

TEST_F(ChannelTest, InterfaceNumbersFrom256AskForADeviceNotSplitIntoFunctions) {
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1)));
    EXPECT_FALSE(Open(Product, 256));
    std::string whole = vcam::DevicePath(CameraVendorId, Product, "", InstanceText(2));
    AddWithKeys(whole);
    ASSERT_TRUE(Open(Product, 0xFFFF));
    EXPECT_EQ(whole, OpenedPath());
}

TEST_F(ChannelTest, IndexesThatFailAreSkippedUpTo255) {
    for (int i = 0; i < 255; ++i) {
        vcam::CaptureInterface broken;
        broken.path = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1000 + i));
        broken.enumFails = i % 2 == 0;
        broken.detailFails = i % 2 == 1;
        vcam::AddCaptureInterface(broken);
    }
    std::string last = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1));
    EXPECT_EQ(255, AddWithKeys(last));
    ASSERT_TRUE(Open());
    EXPECT_EQ(last, OpenedPath());
    EXPECT_EQ(0, vcam::LiveBlocks());
}

TEST_F(ChannelTest, NoMoreThan256IndexesAreTried) {
    for (int i = 0; i < 256; ++i) {
        vcam::CaptureInterface broken;
        broken.path = "\\\\?\\usb#vid_046d&pid_0825&mi_00#x#{y}\\global";
        vcam::AddCaptureInterface(broken);
    }
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1)));
    EXPECT_FALSE(Open());
    EXPECT_EQ(256, vcam::RequestCount(vcam::Request::EnumInterface));
}

TEST_F(ChannelTest, AnInterfaceThatWillNotOpenIsPassedForTheNext) {
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1)), true);
    std::string second = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(2));
    AddWithKeys(second);
    ASSERT_TRUE(Open());
    EXPECT_EQ(second, OpenedPath());
}

TEST_F(ChannelTest, NoInterfaceListMeansClosed) {
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00"));
    vcam::SetClassDevsFails(true);
    EXPECT_FALSE(Open());
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(0, vcam::RequestCount(vcam::Request::EnumInterface));
}

TEST_F(ChannelTest, TheFirstOpenedInterfaceWithoutSettingsEndsTheSearch) {
    vcam::RegistryOptions noSettings;
    noSettings.settingsKey = false;
    std::string first = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1));
    Add(first, &noSettings);
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(2)));
    EXPECT_FALSE(Open());
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(1, vcam::RequestCount(vcam::Request::InterfaceOpen));
    EXPECT_EQ(0, vcam::OpenHandles()) << "the device is closed again";
    BYTE buffer[2];
    EXPECT_FALSE(channel.GetXuControl(0xC2, 1, 0, 2, buffer));
}

TEST_F(ChannelTest, OpeningAnOpenChannelReleasesTheOldOneFirst) {
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00"));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Open());
    EXPECT_EQ(1, vcam::OpenHandles());
    EXPECT_FALSE(Open(0x1802));
    EXPECT_EQ(0, vcam::OpenHandles());
    EXPECT_FALSE(channel.IsOpen());
}

TEST_F(ChannelTest, EveryInjectedFailureLeavesTheChannelWholeOrClosed) {
    const vcam::Request kinds[] = {vcam::Request::ClassDevs, vcam::Request::EnumInterface,
                                   vcam::Request::InterfaceDetail, vcam::Request::InterfaceOpen};
    AddWithKeys(vcam::DevicePath(CameraVendorId, Product, "00"));
    for (vcam::Request kind : kinds) {
        vcam::FailNth(kind, 1);
        EXPECT_FALSE(Open());
        EXPECT_EQ(0, vcam::OpenHandles());
        EXPECT_EQ(0, vcam::LiveBlocks());
    }
    vcam::FailNthAllocation(1);
    EXPECT_FALSE(Open());
    EXPECT_TRUE(Open());
}

// ---- The Settings key lookup -------------------------------------------------------------------

class SettingsKeyTest : public ChannelTest {
protected:
    // The rights a handle was opened with, as the object manager recorded them.
    static ACCESS_MASK GrantedAccess(HANDLE handle) {
        using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
        const auto query =
            reinterpret_cast<Query>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject"));
        struct {
            ULONG attributes;
            ACCESS_MASK granted;
            ULONG rest[12];  // handle and pointer counts, reserved
        } basic = {};        // object basic information, class 0
        return query && query(handle, 0, &basic, sizeof basic, nullptr) == 0 ? basic.granted : 0;
    }

    // Opens the key, expecting failure: the out argument must stay as it was.
    void ExpectNoKey(const std::string& path) {
        HKEY key = reinterpret_cast<HKEY>(0x1234);
        EXPECT_FALSE(OpenSettingsKey(path.c_str(), &key)) << path;
        EXPECT_EQ(reinterpret_cast<HKEY>(0x1234), key);
    }
};

TEST_F(SettingsKeyTest, FindsTheDriverInstancesSettings) {
    std::string path = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1));
    AddWithKeys(path);
    HKEY key = nullptr;
    ASSERT_TRUE(OpenSettingsKey(path.c_str(), &key));
    DWORD value = 42;
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "Probe", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4));
    // No more rights than reading and setting values: a standard user gets no more of HKLM.
    EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_QUERY_VALUE | KEY_SET_VALUE), GrantedAccess(key));
    RegCloseKey(key);
    HKEY settings;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), 0, KEY_READ, &settings));
    DWORD read = 0, size = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(settings, "Probe", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(&read), &size));
    RegCloseKey(settings);
    EXPECT_EQ(42u, read);
}

TEST_F(SettingsKeyTest, MissingInstanceDriverValueOrSettingsFail) {
    vcam::RegistryOptions noInstance, noDriver, noSettings;
    noInstance.instanceKey = false;
    noDriver.driverValue = false;
    noSettings.settingsKey = false;
    std::string a = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1));
    std::string b = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(2));
    std::string c = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(3));
    Add(a, &noInstance);
    Add(b, &noDriver);
    Add(c, &noSettings);
    ExpectNoKey(a);
    ExpectNoKey(b);
    ExpectNoKey(c);
}

TEST_F(SettingsKeyTest, MalformedPathsFail) {
    ExpectNoKey("");
    ExpectNoKey("\\\\?\\");
    ExpectNoKey("\\\\?\\usb");
    ExpectNoKey("\\\\?\\usb#vid_2f3a&pid_1801&mi_00");
    ExpectNoKey("\\\\?\\usb#vid_2f3a&pid_1801&mi_00#instance-without-class");
    HKEY key = nullptr;
    EXPECT_FALSE(OpenSettingsKey(nullptr, &key));
}

TEST_F(SettingsKeyTest, AnEmptyDriverValueDoesNotOpenTheClassKeyItself) {
    std::string path = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1));
    vcam::RegistryOptions all;
    Add(path, &all);
    std::string instanceKey = "SYSTEM\\CurrentControlSet\\Enum\\" + vcam::InstanceIdFromPath(path);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, instanceKey.c_str(), 0, KEY_SET_VALUE, &key));
    RegSetValueExA(key, "Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    RegCloseKey(key);
    ExpectNoKey(path);
}

TEST_F(SettingsKeyTest, AnUnterminatedDriverValueIsReadWithinItsSize) {
    std::string path = vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(1));
    vcam::RegistryOptions all;
    Add(path, &all);
    std::string driver = DriverKeyOf(vcam::InstanceIdFromPath(path));
    std::string instanceKey = "SYSTEM\\CurrentControlSet\\Enum\\" + vcam::InstanceIdFromPath(path);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, instanceKey.c_str(), 0, KEY_SET_VALUE, &key));
    RegSetValueExA(key, "Driver", 0, REG_BINARY, reinterpret_cast<const BYTE*>(driver.data()),
                   static_cast<DWORD>(driver.size()));
    RegCloseKey(key);
    HKEY settings = nullptr;
    ASSERT_TRUE(OpenSettingsKey(path.c_str(), &settings));
    RegCloseKey(settings);
}

// ---- Registry values through the channel ------------------------------------------------------

TEST_F(OpenChannelTest, ReadsAStoredDword) {
    DWORD stored = 77;
    Store("GainEx", REG_DWORD, &stored, 4);
    DWORD value = 0, size = 4;
    EXPECT_TRUE(channel.ReadSetting("GainEx", REG_DWORD, &value, &size, &fallback));
    EXPECT_EQ(77u, value);
    EXPECT_EQ(4u, size);
}

TEST_F(OpenChannelTest, AnythingButTheExpectedValueGivesTheFallback) {
    Store("FlipEx", REG_SZ, "1", 2);
    DWORD wide[2] = {1, 2};
    Store("Wide", REG_BINARY, wide, sizeof wide);
    // A REG_DWORD too short to be one is no value either.
    const WORD half = 0x0707;
    Store("Short", REG_DWORD, &half, sizeof half);
    Store("Empty", REG_DWORD, nullptr, 0);
    for (const char* name : {"FlipEx", "Missing", "Wide", "Short", "Empty"}) {
        SCOPED_TRACE(name);
        DWORD value = 0, size = 4;
        EXPECT_FALSE(channel.ReadSetting(name, REG_DWORD, &value, &size, &fallback));
        EXPECT_EQ(fallback, value);
        EXPECT_EQ(4u, size);
    }
    DWORD size = 4;
    EXPECT_FALSE(channel.ReadSetting("GainEx", REG_DWORD, nullptr, &size, &fallback));
}

TEST_F(OpenChannelTest, WritesLandInTheSettingsKey) {
    DWORD value = 0x1234;
    ASSERT_TRUE(channel.WriteSetting("GainEx", REG_DWORD, &value, 4));
    DWORD read = 0, size = 4;
    EXPECT_TRUE(channel.ReadSetting("GainEx", REG_DWORD, &read, &size, &fallback));
    EXPECT_EQ(0x1234u, read);
    channel.Close();
    EXPECT_FALSE(channel.WriteSetting("GainEx", REG_DWORD, &value, 4));
    EXPECT_FALSE(channel.ReadSetting("GainEx", REG_DWORD, &read, &size, &fallback));
    EXPECT_EQ(fallback, read);
}

// ---- Requests ------------------------------------------------------------------------------

TEST_F(OpenChannelTest, AWriteWithoutDataIsExactlyTenBytes) {
    ASSERT_TRUE(channel.SetXuControl(0xC2, 0x2C, 0xBEEF, 0, nullptr));
    std::vector<vcam::XuRecord> log = vcam::XuRequests();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(XuControlIoctl, log[0].code);
    const std::vector<unsigned char> expected = {0x01, 0xC2, 0x2C, 0x00, 0x00,
                                                 0x00, 0xEF, 0xBE, 0x00, 0x00};
    EXPECT_EQ(expected, log[0].input);
    EXPECT_FALSE(log[0].hadOutput);
    EXPECT_EQ(0u, log[0].outputSize);
    EXPECT_EQ(0xBEEF, vcam::XuValue(0x2C));
}

TEST_F(OpenChannelTest, AWriteSucceedsOnlyWhenTheDriverReportsDataLengthBytes) {
    vcam::SetXuResponse(true, 2);
    EXPECT_FALSE(channel.SetXuControl(0xC2, 0x30, 1, 0, nullptr));
    vcam::SetXuResponse(false);
    EXPECT_FALSE(channel.SetXuControl(0xC2, 0x30, 1, 0, nullptr));
    vcam::SetXuResponse(true);
    EXPECT_TRUE(channel.SetXuControl(0xC2, 0x30, 1, 0, nullptr));
    EXPECT_TRUE(channel.IsOpen()) << "a refused request leaves the channel open";
    EXPECT_EQ(3u, vcam::XuRequests().size()) << "nothing is retried";
}

TEST_F(OpenChannelTest, AWriteWithDataCarriesItBehindTheHeader) {
    const BYTE data[3] = {0x11, 0x22, 0x33};
    vcam::SetXuResponse(true, 3);  // a driver that confirms the data it took
    ASSERT_TRUE(channel.SetXuControl(0x81, 0x0102, 7, 3, data));
    std::vector<vcam::XuRecord> log = vcam::XuRequests();
    ASSERT_EQ(1u, log.size());
    const std::vector<unsigned char> expected = {0x01, 0x81, 0x02, 0x01, 0x03, 0x00,
                                                 0x07, 0x00, 0x11, 0x22, 0x33};
    EXPECT_EQ(expected, log[0].input);
    EXPECT_EQ(0x2211, vcam::XuValue(0x0102));
    EXPECT_FALSE(channel.SetXuControl(0x81, 0x0102, 7, 3, nullptr)) << "length without data";
    EXPECT_EQ(1u, vcam::XuRequests().size());
}

TEST_F(OpenChannelTest, AReadIsTenBytesAndFillsTheBuffer) {
    vcam::SetXuValue(0x2A, 0x01F4);
    BYTE buffer[2] = {};
    ASSERT_TRUE(channel.GetXuControl(0xC1, 0x2A, 0x55, 2, buffer));
    EXPECT_EQ(0xF4, buffer[0]);
    EXPECT_EQ(0x01, buffer[1]);
    std::vector<vcam::XuRecord> log = vcam::XuRequests();
    ASSERT_EQ(1u, log.size());
    const std::vector<unsigned char> expected = {0x00, 0xC1, 0x2A, 0x00, 0x02,
                                                 0x00, 0x55, 0x00, 0x00, 0x00};
    EXPECT_EQ(expected, log[0].input);
    EXPECT_EQ(2u, log[0].outputSize);

    EXPECT_FALSE(channel.GetXuControl(0xC1, 0x2A, 0, 2, nullptr));
    EXPECT_EQ(1u, vcam::XuRequests().size()) << "no buffer: the driver is not called";
    vcam::SetXuResponse(true, 1);
    EXPECT_FALSE(channel.GetXuControl(0xC1, 0x2A, 0, 2, buffer));
}

TEST_F(OpenChannelTest, RequestsNeverInterleave) {
    vcam::SetXuHoldMicroseconds(300);
    const int threads = 4, each = 25;
    std::vector<std::thread> workers;
    std::atomic<int> failures(0);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < each; ++i) {
                if (!channel.SetXuControl(0xC2, static_cast<WORD>(0x29 + t), i, 0, nullptr))
                    ++failures;
            }
        });
    }
    for (std::thread& w : workers) w.join();
    vcam::SetXuHoldMicroseconds(0);
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(static_cast<size_t>(threads * each), vcam::XuRequests().size());
    EXPECT_EQ(0, vcam::XuOverlaps());
}

}  // namespace

// ---- The camera driver's request rule -------------------------------------------------------

namespace {

// The rule runs in the kernel on a caller's buffer: only the lengths it names are read.
TEST(XuRequestRule, TakesOnlyWellFormedRequestsAndDescribesTheirTransfer) {
    const unsigned char read[10] = {0, 0xC1, 0x2A, 0, 2, 0, 0x55, 0, 0, 0};
    const unsigned char write[11] = {1, 0x81, 0x02, 0x01, 3, 0, 7, 0, 0x11, 0x22, 0x33};
    XuTransfer t;
    ASSERT_TRUE(XuDescribeTransfer(read, 10, 2, &t));
    EXPECT_EQ(0xC0, t.requestType);
    EXPECT_EQ(0xC1, t.request);
    EXPECT_EQ(0x2A, t.index);
    EXPECT_EQ(0x55, t.value);
    EXPECT_EQ(2, t.length);
    EXPECT_EQ(2u, XuBytesReturned(&t, 2));
    ASSERT_TRUE(XuDescribeTransfer(write, 11, 0, &t));
    EXPECT_EQ(0x40, t.requestType);
    EXPECT_EQ(0x0102, t.index);
    EXPECT_EQ(3, t.length);
    EXPECT_EQ(8u, t.dataOffset);
    EXPECT_EQ(0u, XuBytesReturned(&t, 0)) << "a write puts nothing into the caller's output";
    EXPECT_FALSE(XuTransferAllowed(&t)) << "data never reaches the firmware";

    EXPECT_FALSE(XuDescribeTransfer(read, 9, 2, &t)) << "shorter than a request";
    EXPECT_FALSE(XuDescribeTransfer(read, 10, 1, &t)) << "no room for the bytes read";
    EXPECT_FALSE(XuDescribeTransfer(write, 10, 0, &t)) << "data shorter than DataLength";
    unsigned char wrongWay[10] = {2, 0xC2, 0x30};
    EXPECT_FALSE(XuDescribeTransfer(wrongWay, 10, 0, &t)) << "neither a read nor a write";
    unsigned char empty[10] = {1, 0xC2, 0x30};
    EXPECT_TRUE(XuDescribeTransfer(empty, 10, 0, &t)) << "a write without data is 10 bytes";
    EXPECT_FALSE(XuDescribeTransfer(empty, 8, 0, &t));
}

// Only the library's own writes reach the camera: its request code, a control's selector.
TEST(XuRequestRule, CarriesOnlyTheLibrarysWrites) {
    XuTransfer t;
    unsigned char request[10] = {1, 0xC2, 0x33, 0, 0, 0, 0xFF, 0xFF};
    ASSERT_TRUE(XuDescribeTransfer(request, 10, 0, &t));
    EXPECT_TRUE(XuTransferAllowed(&t)) << "the last control, any value";
    EXPECT_EQ(0u, XuBytesReturned(&t, 0));
    request[2] = 0x2F;  // between the gain and power-line selectors: no control
    ASSERT_TRUE(XuDescribeTransfer(request, 10, 0, &t));
    EXPECT_FALSE(XuTransferAllowed(&t));
    request[2] = 0x26;
    request[1] = 0xC1;
    ASSERT_TRUE(XuDescribeTransfer(request, 10, 0, &t));
    EXPECT_FALSE(XuTransferAllowed(&t)) << "another request code";
    const unsigned char read[10] = {0, 0xC2, 0x26, 0, 2, 0};
    ASSERT_TRUE(XuDescribeTransfer(read, 10, 2, &t));
    EXPECT_FALSE(XuTransferAllowed(&t)) << "the library reads nothing";
    // A control's own write with a data stage, however short: the library sends its value in
    // the header, so data would be a firmware path it never takes.
    const unsigned char withData[10] = {1, 0xC2, 0x26, 0, 1, 0, 7, 0, 7};
    ASSERT_TRUE(XuDescribeTransfer(withData, 10, 0, &t));  // 8 + 1 bytes, padded to 10
    EXPECT_EQ(1u, t.length);
    EXPECT_FALSE(XuTransferAllowed(&t)) << "one byte of data";
}

}  // namespace

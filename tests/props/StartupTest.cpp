#include <cstring>
#include "DLL/camera/DeviceChannel.h"
#include "DriverPackage/XuTransfer.h"
#include "tests/props/PropsFixture.h"

namespace {

using StartUpTest = CameraTest;

bool TableIsZero() {
    static const PROPDATA zero[PropertyCount] = {};
    return std::memcmp(ExtensionPropertyTable, zero, sizeof(zero)) == 0;
}

TEST_F(StartUpTest, EmptySettingsKeyTakesEveryFallback) {
    RunStartUp();
    ASSERT_TRUE(TheDeviceChannel.IsOpen());
    for (int i = 0; i < PropertyCount; ++i) {
        const PROPDATA& r = ExtensionPropertyTable[i];
        SCOPED_TRACE(PropertyInfoTable[i].baseName);
        // The value falls back to the default just loaded, which lies in a range of its own.
        EXPECT_LT(r.Min, r.Max);
        EXPECT_LE(r.Min, r.Def);
        EXPECT_LE(r.Def, r.Max);
        EXPECT_EQ(r.Def, r.Value);
        EXPECT_EQ(i == PropWhiteBalanceGreen ? 0 : 1, r.Enb);
    }
    // The fallbacks that differ from their neighbours' (the page tests read the others).
    EXPECT_EQ(1, ExtensionPropertyTable[PropExposure].Min);
    EXPECT_EQ(127, ExtensionPropertyTable[PropGain].Max);
    EXPECT_EQ(255, ExtensionPropertyTable[PropExposure].Def);
    // Loading reads only; nothing is sent to the camera or written back.
    EXPECT_TRUE(vcam::XuRequests().empty());
    DWORD v;
    EXPECT_FALSE(StoredDword("GainEx", &v));
}

TEST_F(StartUpTest, StoredValuesAreRangeCheckedAgainstTheLoadedDefault) {
    StoreDword("ExposureEx", 0);  // below Min 1, and no stored default
    StoreDword("GainEx", 128);    // one past Max
    StoreDword("GainExDef", 50);
    StoreDword("WBRedExDef", 300);    // defaults are taken as read, even out of range
    StoreDword("WBBlueEx", 255);      // the top of the range stays
    StoreDword("AGCEx", 0xFFFFFFFF);  // -1
    StoreString("FlipEx", "1");       // wrong type: as if absent
    StoreDword("FlipExDef", 1);
    StoreDword("MirrorExEnb", 0);
    StoreDword("WBGreenExEnb", 7);
    RunStartUp();
    const PROPDATA* t = ExtensionPropertyTable;
    EXPECT_EQ(255, t[PropExposure].Value);
    EXPECT_EQ(50, t[PropGain].Value);
    EXPECT_EQ(50, t[PropGain].Def);
    EXPECT_EQ(300, t[PropWhiteBalanceRed].Def);
    EXPECT_EQ(300, t[PropWhiteBalanceRed].Value);
    EXPECT_EQ(255, t[PropWhiteBalanceBlue].Value);
    EXPECT_EQ(1, t[PropAutoGain].Value) << "-1 is out of range: the default replaces it";
    EXPECT_EQ(1, t[PropFlip].Value);
    EXPECT_EQ(0, t[PropMirror].Enb);
    EXPECT_EQ(7, t[PropWhiteBalanceGreen].Enb);

    // The camera driver puts the same key back into a camera that powers on: every enabled
    // record's value, in table order, as the library would send it.
    XuTransfer sent[PropertyCount + 1];
    const uint32_t count = XuStartUpTransfers(
        [](void* scene, const char* name, int32_t* value) {
            DWORD stored;
            if (!static_cast<CameraScene*>(scene)->StoredDword(name, &stored)) return 0;
            *value = static_cast<int32_t>(stored);
            return 1;
        },
        static_cast<CameraScene*>(this), 0, sent, PropertyCount + 1);
    uint32_t expected = 0;
    for (int i = 0; i < PropertyCount; ++i) {
        if (t[i].Enb == 0) continue;
        ASSERT_LT(expected, count) << PropertyInfoTable[i].baseName;
        const XuTransfer& w = sent[expected++];
        EXPECT_TRUE(XuTransferAllowed(&w)) << PropertyInfoTable[i].baseName;
        EXPECT_EQ(PropertyInfoTable[i].selector, w.index);
        EXPECT_EQ(t[i].Value & 0xFFFF, w.value) << PropertyInfoTable[i].baseName;
    }
    EXPECT_EQ(expected, count);
}

TEST_F(StartUpTest, GainAtTheTopOfItsRangeStays) {
    StoreDword("GainEx", 127);
    RunStartUp();
    EXPECT_EQ(127, ExtensionPropertyTable[PropGain].Value);
}

class StandardPowerLineTest : public CameraTest {
protected:
    StandardPowerLineTest() : CameraTest(WithStandardPowerLine()) {}
};

TEST_F(StandardPowerLineTest, VendorPowerLineIsWithdrawn) {
    StoreDword("PowerLineExEnb", 1);
    StoreDword("PowerLineEx", 1);
    RunStartUp();
    EXPECT_EQ(0, ExtensionPropertyTable[PropPowerLine].Enb);
    EXPECT_EQ(1, ExtensionPropertyTable[PropPowerLine].Value);
    EXPECT_EQ(1, ExtensionPropertyTable[PropFlip].Enb);
    // The camera's driver, scanning the same descriptor set, leaves it out too when it puts the
    // stored settings into a camera that powered on again.
    vcam::PullCaptureInterface(0);
    vcam::PutCaptureInterfaceBack(0);
    bool known = true;
    vcam::XuValue(PropertyInfoTable[PropPowerLine].selector, &known);
    EXPECT_FALSE(known);
    vcam::XuValue(PropertyInfoTable[PropFlip].selector, &known);
    EXPECT_TRUE(known);
}

TEST_F(StartUpTest, NoCameraLeavesTheLibraryInertButRegistersTheMessage) {
    vcam::Reset();
    RunStartUp();
    EXPECT_NE(0u, UpdateMessage);
    EXPECT_EQ(UpdateMessage, RegisterWindowMessageA("KOVALTIX_UPDATEPORPERTY"));
    EXPECT_EQ(GetModuleHandleA(nullptr), KovaltixModule);
    EXPECT_FALSE(TheDeviceChannel.IsOpen());
    EXPECT_TRUE(TableIsZero());
    ShutDown();
    ShutDown();
    EXPECT_TRUE(TableIsZero());
}

TEST_F(StartUpTest, MissingSettingsKeyMeansNoCamera) {
    vcam::RemoveDriverKeys(camera.instanceId);
    vcam::CreateDriverKeys(camera.instanceId, vcam::StandardDriverKey,
                           vcam::RegistryOptions{true, true, false});
    RunStartUp();
    EXPECT_FALSE(TheDeviceChannel.IsOpen());
    EXPECT_TRUE(TableIsZero());
}

TEST_F(StartUpTest, ProductIdFromTheBusChoosesTheInterface) {
    vcam::Reset();
    vcam::StandardCameraOptions other;
    other.productId = 0x18FF;
    vcam::StandardCamera plugged = vcam::PlugStandardCamera(other);
    std::string settings = vcam::CreateDriverKeys(plugged.instanceId);
    ASSERT_FALSE(settings.empty());
    RunStartUp();
    EXPECT_TRUE(TheDeviceChannel.IsOpen());
    EXPECT_EQ(1, ExtensionPropertyTable[PropFlip].Enb);
    ResetLibraryState();
    vcam::RemoveDriverKeys(plugged.instanceId);
}

TEST_F(StartUpTest, UnusableDescriptorsEndAfterBoundedPassesWithNothingHeld) {
    vcam::Reset();
    vcam::StandardCameraOptions plain;
    plain.externalHub = false;
    vcam::StandardCamera plugged = vcam::PlugStandardCamera(plain);
    vcam::PortFaults faults;
    faults.descriptorBody = true;  // found, but never with its descriptor set
    vcam::SetPortFaults(plugged.cameraHub, plugged.cameraPort, faults);
    RunStartUp();
    EXPECT_FALSE(TheDeviceChannel.IsOpen());
    EXPECT_TRUE(TableIsZero());
    int passes = vcam::RequestCount(vcam::Request::ControllerOpen);
    EXPECT_GE(passes, 2) << "a missing descriptor set is retried";
    EXPECT_LE(passes, 10) << "start-up must end";
    EXPECT_EQ(0, vcam::LiveBlocks()) << vcam::Describe();
}

TEST_F(StartUpTest, RejectedProcessingUnitIsRetriedThenGivenUp) {
    vcam::Reset();
    vcam::StandardCameraOptions plain;
    plain.externalHub = false;
    vcam::StandardCamera plugged = vcam::PlugStandardCamera(plain);
    vcam::UsbDevice device;
    device.vendorId = 0x2F3A;
    device.productId = vcam::StandardProductId;
    device.configuration = vcam::CameraConfiguration(false, 1);  // control bitmap too short
    vcam::AttachDevice(plugged.cameraHub, plugged.cameraPort, device);
    RunStartUp();
    EXPECT_FALSE(TheDeviceChannel.IsOpen());
    EXPECT_TRUE(TableIsZero());
    EXPECT_EQ(0, vcam::LiveBlocks()) << vcam::Describe();
}

TEST_F(StartUpTest, DetachClosesTheChannelAndKeepsTheTable) {
    StoreDword("GainEx", 17);
    RunStartUp();
    ASSERT_TRUE(TheDeviceChannel.IsOpen());
    ShutDown();
    EXPECT_FALSE(TheDeviceChannel.IsOpen());
    EXPECT_EQ(0, vcam::OpenHandles()) << vcam::Describe();
    EXPECT_EQ(17, ExtensionPropertyTable[PropGain].Value);
}

}  // namespace

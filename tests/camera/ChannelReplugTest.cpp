// The channel after its camera or its Settings key went away under it.
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/camera/ChannelFixture.h"

namespace {

// The handle the channel holds reaches a stack that the camera's removal took away: every
// request on it fails as "gone" while the camera is out and after it is back.
TEST_F(OpenChannelTest, ACameraPutBackIsReachedAgainThroughOneNewHandle) {
    {
        SCOPED_TRACE("pulled out and put back between two requests");
        vcam::PullCaptureInterface(camera);
        vcam::PutCaptureInterfaceBack(camera);
        const int searches = Searches();
        ASSERT_TRUE(Flip(1));
        EXPECT_EQ(searches + 1, Searches()) << "one reopen";
        EXPECT_EQ(1u, Reached()) << "the request is repeated once, on the new handle";
        EXPECT_EQ(1, vcam::XuValue(0x30));
        EXPECT_EQ(1, vcam::OpenHandles()) << "the old handle is closed";
    }
    {
        SCOPED_TRACE("requests while the camera is out");
        // Another camera of the same model has its own Settings key: not this channel's.
        Add(vcam::DevicePath(CameraVendorId, Product, "00", InstanceText(78)));
        vcam::PullCaptureInterface(camera);
        const int searches = Searches(), opens = vcam::RequestCount(vcam::Request::InterfaceOpen);
        EXPECT_FALSE(Flip(0));
        EXPECT_FALSE(Flip(0));
        EXPECT_EQ(searches + 2, Searches()) << "one search per request, no more";
        EXPECT_EQ(opens, vcam::RequestCount(vcam::Request::InterfaceOpen));
        EXPECT_EQ(1u, Reached());
        EXPECT_EQ(0, vcam::OpenHandles()) << "the removed stack's handle is let go";
        EXPECT_TRUE(channel.IsOpen());
    }
    {
        SCOPED_TRACE("back");
        vcam::PutCaptureInterfaceBack(camera);
        const int searches = Searches();
        ASSERT_TRUE(Flip(0));
        ASSERT_TRUE(Flip(1));
        EXPECT_EQ(searches + 1, Searches()) << "the new handle serves every later request";
        EXPECT_EQ(3u, Reached());
        EXPECT_EQ(1, vcam::XuValue(0x30));
        EXPECT_EQ(1, vcam::OpenHandles());
    }
}

// A request that reached the driver and failed may have reached the camera: only an error that
// says the device is gone may send it again.
TEST_F(OpenChannelTest, OnlyADeviceGoneErrorReopensAndRepeats) {
    const DWORD gone[] = {ERROR_DEVICE_REMOVED, ERROR_DEV_NOT_EXIST, 433 /* no such device */,
                          ERROR_DEVICE_NOT_CONNECTED, ERROR_ACCESS_DENIED};
    const DWORD other[] = {ERROR_NOT_SUPPORTED,     ERROR_SEM_TIMEOUT,      ERROR_GEN_FAILURE,
                           ERROR_INVALID_PARAMETER, ERROR_INVALID_FUNCTION, ERROR_FILE_NOT_FOUND,
                           ERROR_NOT_READY};
    for (DWORD error : gone) {
        SCOPED_TRACE(error);
        vcam::SetXuResponse(false, -1, error);
        const int searches = Searches();
        const size_t reached = Reached();
        EXPECT_FALSE(Flip(1));
        EXPECT_EQ(searches + 1, Searches());
        EXPECT_EQ(reached + 2, Reached()) << "sent, and once more on a new handle";
        vcam::SetXuResponse(true);
        EXPECT_TRUE(Flip(1)) << "the channel stays usable";
    }
    for (DWORD error : other) {
        SCOPED_TRACE(error);
        vcam::SetXuResponse(false, -1, error);
        const int searches = Searches();
        const size_t reached = Reached();
        EXPECT_FALSE(Flip(1));
        EXPECT_EQ(searches, Searches());
        EXPECT_EQ(reached + 1, Reached()) << "not repeated";
        EXPECT_EQ(1, vcam::OpenHandles());
    }
}

// Threads that send while the camera is pulled out and put back never meet a handle being
// replaced (the model counts a request on a closed handle as a protocol error), and every request
// that found the camera gone looked for it exactly once.
TEST_F(OpenChannelTest, AReplugUnderManyThreadsKeepsEveryRequestWhole) {
    vcam::SetXuHoldMicroseconds(200);
    const int threads = 4;
    std::atomic<bool> back(false);
    std::atomic<int> failures(0), afterBack(0);  // afterBack: failed once the camera was back
    const int searches = Searches();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            // Each thread's last request goes out after it saw the camera back.
            bool last = false;
            for (int i = 0; !last; ++i) {
                last = back && i >= 40;
                if (!channel.SetXuControl(0xC2, static_cast<WORD>(0x29 + t), i & 1, 0, nullptr)) {
                    ++failures;
                    if (last) ++afterBack;
                }
            }
        });
    }
    while (Reached() < 20) Sleep(1);
    vcam::PullCaptureInterface(camera);
    Sleep(20);
    vcam::PutCaptureInterfaceBack(camera);
    back = true;
    for (std::thread& w : workers) w.join();
    vcam::SetXuHoldMicroseconds(0);
    EXPECT_EQ(0, vcam::XuOverlaps());
    EXPECT_EQ(0, afterBack.load()) << "a request sent after the camera was back failed";
    EXPECT_EQ(searches + failures.load() + 1, Searches());
    EXPECT_EQ(1, vcam::OpenHandles());
}

TEST_F(OpenChannelTest, ASettingsKeyDeletedUnderTheChannelIsFoundAgain) {
    const std::string id = instances.back();
    vcam::RemoveDriverKeys(id, DriverKeyOf(id));
    DWORD value = 5, read = 0, size = 4;
    EXPECT_FALSE(channel.WriteSetting("GainEx", REG_DWORD, &value, 4)) << "no key to find";
    EXPECT_FALSE(channel.ReadSetting("GainEx", REG_DWORD, &read, &size, &fallback));
    EXPECT_EQ(fallback, read);
    // The driver package installed again: the same instance, a new key.
    ASSERT_FALSE(vcam::CreateDriverKeys(id, DriverKeyOf(id)).empty());
    ASSERT_TRUE(channel.WriteSetting("GainEx", REG_DWORD, &value, 4));
    DWORD stored = 0, storedSize = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, settingsPath.c_str(), "GainEx",
                                          RRF_RT_REG_DWORD, nullptr, &stored, &storedSize));
    EXPECT_EQ(5u, stored);
    value = 6;
    Store("GainEx", REG_DWORD, &value, 4);
    EXPECT_TRUE(channel.ReadSetting("GainEx", REG_DWORD, &read, &size, &fallback));
    EXPECT_EQ(6u, read);
}

}  // namespace

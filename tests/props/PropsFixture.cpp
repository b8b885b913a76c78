#include "tests/props/PropsFixture.h"

#include "tests/common/HandleCount.h"

void CameraTest::SetUp() {
    OpenLastingHandles();
    handlesAtStart = OpenHandleCount();
    ASSERT_GE(handlesAtStart, 0);
}

void CameraTest::TearDown() {
    // Start-up, the objects and detach (below) together leave no key, mutex or other handle.
    ResetLibraryState();
    EXPECT_EQ(handlesAtStart, OpenHandleCount()) << "kernel handles left open";
    EXPECT_EQ(0, vcam::OpenHandles()) << vcam::Describe();
    EXPECT_EQ(0, vcam::LiveBlocks()) << vcam::Describe();
    EXPECT_EQ(0, vcam::BadReleases()) << vcam::Describe();
}

vcam::StandardCameraOptions WithStandardPowerLine() {
    vcam::StandardCameraOptions options;
    options.powerLine = true;
    return options;
}

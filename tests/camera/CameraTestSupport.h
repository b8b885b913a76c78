#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "DLL/camera/DeviceLayer.h"
#include "VirtualCamera/VirtualCamera.h"

// An empty virtual machine per test; afterwards nothing may be held or released twice, and no
// request may have broken the drivers' rules.
class VirtualMachineTest : public ::testing::Test {
protected:
    void SetUp() override { vcam::Reset(); }
    void TearDown() override {
        EXPECT_EQ(0, vcam::OpenHandles()) << vcam::Describe();
        EXPECT_EQ(0, vcam::LiveBlocks()) << vcam::Describe();
        EXPECT_EQ(0, vcam::BadReleases()) << vcam::Describe();
        EXPECT_EQ(0, vcam::ProtocolErrors()) << vcam::Describe();
    }
};

#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include "DLL/props/PropertyTable.h"
#include "tests/common/CameraScene.h"

// A test over the camera scene: start-up runs on demand, after the test has stored the values
// it wants loaded. Afterwards nothing of the library, the camera or the kernel may be held.
class CameraTest : public ::testing::Test, public CameraScene {
protected:
    explicit CameraTest(const vcam::StandardCameraOptions& options = {}) : CameraScene(options) {}
    void SetUp() override;
    void TearDown() override;

private:
    int handlesAtStart = -1;
};

// The camera whose own processing unit offers the power-line frequency control.
vcam::StandardCameraOptions WithStandardPowerLine();

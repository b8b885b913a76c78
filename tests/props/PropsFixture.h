#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "DLL/props/PropertyTable.h"
#include "VirtualCamera/VirtualCamera.h"

// One write request as the driver saw it.
struct XuWrite {
    unsigned short selector;
    unsigned short value;
    bool operator==(const XuWrite& o) const { return selector == o.selector && value == o.value; }
};
using XuWrites = std::vector<XuWrite>;
std::ostream& operator<<(std::ostream& os, const XuWrite& w);

// A machine with the standard camera plugged in and its driver keys in Wine's registry.
// Start-up runs on demand, after the test has stored the values it wants to be loaded.
class CameraTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Unloads (detach) and runs the attach handling again on this program's module.
    void RunStartUp();

    void StoreDword(const char* name, DWORD value);
    void StoreString(const char* name, const char* value);
    void DeleteValue(const char* name);
    // The REG_DWORD that landed in the Settings key; false when absent or of another type.
    bool StoredDword(const char* name, DWORD* value);

    // Write requests the driver received since the last ClearRequests.
    std::vector<XuWrite> Writes();
    void ClearRequests();

    vcam::StandardCameraOptions options;
    vcam::StandardCamera camera;
    std::string settingsPath;

private:
    size_t requestsSeen = 0;
    int handlesAtStart = -1;
};

// Zeroes the shared table and closes the channel, as in a freshly loaded library.
void ResetLibraryState();

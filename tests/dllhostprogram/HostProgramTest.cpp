// KOVALTIX.exe in command-line mode, end to end: the program as built, the demo library over
// the virtual camera beside it (as "KOVALTIX.dll"), the camera driver's settings in Wine's
// registry.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "VirtualCamera/VirtualCamera.h"
#include "tests/common/TestPaths.h"
#include "tests/dllhostprogram/ProgramRunner.h"

namespace {

struct Row {
    std::string group, control;
    long min = 0, max = 0, value = 0, def = 0, enb = 0;
};

std::vector<Row> ParseTable(const std::string& output) {
    std::vector<Row> rows;
    std::istringstream lines(output);
    std::string line;
    bool header = false;
    while (std::getline(lines, line)) {
        if (line.compare(0, 5, "Group") == 0) {
            header = true;
            continue;
        }
        if (!header) continue;
        std::istringstream fields(line);
        Row row;
        if (fields >> row.group >> row.control >> row.min >> row.max >> row.value >> row.def >>
            row.enb)
            rows.push_back(row);
    }
    return rows;
}

std::string SettingsPath() {
    return std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") + vcam::StandardDriverKey +
           "\\Settings";
}

class HostProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = BinFolder() + "hostprogram";
        CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(CopyInto(BinFolder() + "KOVALTIX.exe", folder + "\\KOVALTIX.exe"));
        ASSERT_TRUE(CopyInto(BinFolder() + "KOVALTIXV.dll", folder + "\\KOVALTIX.dll"));
    }
    static void TearDownTestSuite() {
        Host("reset WhiteBalance");
        Host("reset Exposure");
        Host("reset Flip");
        Host("reset Mirror");
        RemoveTree(folder);
    }
    static ProgramResult Host(const std::string& arguments) {
        return RunProgram("\"" + folder + "\\KOVALTIX.exe\" " + arguments);
    }
    static Row Get(const std::string& group, const std::string& control) {
        for (const Row& row : ParseTable(Host("get " + group).output)) {
            if (row.control == control) return row;
        }
        ADD_FAILURE() << "no row " << control << " in get " << group;
        return Row();
    }
    static DWORD Stored(const char* name) {
        DWORD value = 0xDEADBEEF;
        EXPECT_TRUE(ReadRegistryDword(HKEY_LOCAL_MACHINE, SettingsPath(), name, &value)) << name;
        return value;
    }
    static std::string folder;
};
std::string HostProgram::folder;

TEST_F(HostProgram, ListsTheThirteenControlsInTableOrder) {
    ProgramResult result = Host("list");
    ASSERT_EQ(0, result.exitCode) << result.output;
    std::vector<Row> rows = ParseTable(result.output);
    const char* expected[13] = {"AWBEx",      "WBRedEx",   "WBGreenEx",  "WBBlueEx",    "AECEx",
                                "ExposureEx", "AGCEx",     "GainEx",     "PowerLineEx", "FlipEx",
                                "MirrorEx",   "PrivacyEx", "NightModeEx"};
    ASSERT_EQ(13u, rows.size()) << result.output;
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(expected[i], rows[i].control);
        EXPECT_LE(rows[i].min, rows[i].def) << rows[i].control;
        EXPECT_LE(rows[i].def, rows[i].max) << rows[i].control;
    }
    EXPECT_EQ("WhiteBalance", rows[0].group);
    EXPECT_EQ("LowLightMode", rows[12].group);
    // The standard camera offers everything but the green channel.
    EXPECT_EQ(0, rows[2].enb);
    EXPECT_EQ(1, rows[9].enb);
    EXPECT_EQ(1, rows[9].max);
}

TEST_F(HostProgram, SetReachesTheDriverSettingsAndResetRestoresTheDefaults) {
    ProgramResult set = Host("set Exposure 0 123");
    ASSERT_EQ(0, set.exitCode) << set.output;
    // A new process loads what the previous one wrote.
    Row exposure = Get("Exposure", "ExposureEx");
    EXPECT_EQ(123, exposure.value);
    EXPECT_EQ(0, Get("Exposure", "AECEx").value);
    EXPECT_EQ(123u, Stored("ExposureEx"));

    // Values reach the driver's settings unchecked and whole; group names ignore case.
    ASSERT_EQ(0, Host("set mirror -1").exitCode);
    EXPECT_EQ(0xFFFFFFFFu, Stored("MirrorEx"));
    ASSERT_EQ(0, Host("set Flip 2147483647").exitCode);
    EXPECT_EQ(2147483647u, Stored("FlipEx"));

    ASSERT_EQ(0, Host("reset Exposure").exitCode);
    exposure = Get("Exposure", "ExposureEx");
    EXPECT_EQ(exposure.def, exposure.value);
    EXPECT_EQ(static_cast<DWORD>(exposure.def), Stored("ExposureEx"));
    ASSERT_EQ(0, Host("reset MIRROR").exitCode);
    EXPECT_EQ(0u, Stored("MirrorEx"));
}

TEST_F(HostProgram, WhiteBalanceTakesFourValuesInArgumentOrder) {
    ASSERT_EQ(0, Host("set WhiteBalance 0 10 20 30").exitCode);
    std::vector<Row> rows = ParseTable(Host("get WhiteBalance").output);
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ(0, rows[0].value);
    EXPECT_EQ(10, rows[1].value);
    EXPECT_EQ(rows[2].def, rows[2].value) << "green is not offered: untouched";
    EXPECT_EQ(30, rows[3].value);
    EXPECT_EQ(10u, Stored("WBRedEx"));
    EXPECT_EQ(30u, Stored("WBBlueEx"));
    ASSERT_EQ(0, Host("reset WhiteBalance").exitCode);
    EXPECT_EQ(1u, Stored("AWBEx"));
}

TEST_F(HostProgram, RefusesBadArgumentsClearlyAndChangesNothing) {
    ASSERT_EQ(0, Host("set Flip 1").exitCode);
    struct Case {
        const char* arguments;
        const char* message;
    } cases[] = {
        {"set Volume 1", "Unknown group \"Volume\""},
        {"get Brightness", "Unknown group"},
        {"reset", "usage"},
        {"set Flip", "takes 1 value"},
        {"set Flip 0 0", "takes 1 value"},
        {"set WhiteBalance 0 1 2", "takes 4 value"},
        {"set Flip x", "not a whole 32-bit number"},
        {"set Flip 0x0", "not a whole 32-bit number"},
        {"set Flip 0.5", "not a whole 32-bit number"},
        {"set Flip 2147483648", "not a whole 32-bit number"},
        {"set Flip -2147483649", "not a whole 32-bit number"},
        {"set Flip \"\"", "not a whole 32-bit number"},
        {"set Flip \" 0\"", "not a whole 32-bit number"},
        {"list extra", "usage"},
        {"frobnicate", "Unknown command"},
        {"window --snapshot", "usage"},
    };
    for (const Case& c : cases) {
        ProgramResult result = Host(c.arguments);
        EXPECT_EQ(2, result.exitCode) << c.arguments << "\n" << result.output;
        EXPECT_NE(std::string::npos, result.output.find(c.message)) << c.arguments << "\n"
                                                                    << result.output;
    }
    EXPECT_EQ(1u, Stored("FlipEx"));
    EXPECT_EQ(1, Get("Flip", "FlipEx").value);
    ASSERT_EQ(0, Host("reset Flip").exitCode);
}

// The shipped library finds no camera here: every control is off, and setting one is a no-op
// that succeeds; the page is refused with a message.
TEST_F(HostProgram, WithoutACameraEverythingIsOffAndThePageIsRefused) {
    const std::string shipped = "\"" + BinFolder() + "KOVALTIX.exe\" ";
    ProgramResult list = RunProgram(shipped + "list");
    ASSERT_EQ(0, list.exitCode) << list.output;
    std::vector<Row> rows = ParseTable(list.output);
    ASSERT_EQ(13u, rows.size());
    for (const Row& row : rows) EXPECT_EQ(0, row.min | row.max | row.value | row.def | row.enb);
    EXPECT_EQ(0, RunProgram(shipped + "set Gain 0 10").exitCode);

    const std::string picture = BinFolder() + "no-camera-page.png";
    DeleteFileA(picture.c_str());
    ProgramResult window = RunProgram(shipped + "window --snapshot \"" + picture + "\"");
    EXPECT_EQ(3, window.exitCode) << window.output;
    EXPECT_NE(std::string::npos, window.output.find("not available")) << window.output;
    EXPECT_FALSE(FileExists(picture));
}

}  // namespace

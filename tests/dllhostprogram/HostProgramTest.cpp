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

// A row as one line, "group control min max value default enabled", enabled as 0 or 1.
std::string RowText(const Row& row) {
    std::ostringstream line;
    line << row.group << ' ' << row.control << ' ' << row.min << ' ' << row.max << ' ' << row.value
         << ' ' << row.def << ' ' << (row.enb != 0 ? 1 : 0) << '\n';
    return line.str();
}

std::string TableText(const std::string& output) {
    std::string text;
    for (const Row& row : ParseTable(output)) text += RowText(row);
    return text;
}

// The value a settings file gives a control, read as a person would: "Name = value" lines,
// anything after "#" a comment. Empty when no line names it.
std::string FileValue(const std::string& text, const std::string& name) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::string key, equals, value;
        if (fields >> key >> equals >> value && key == name && equals == "=") return value;
    }
    return std::string();
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
        Host("reset PowerLine");
        Host("reset Gain");
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
    // The JSON text as Python's own json module reads it: each element of the array as a
    // RowText line, once its fields are exactly the seven expected, of the expected types.
    static std::string JsonRows(const std::string& json) {
        const std::string input = folder + "\\rows.json", script = folder + "\\rows.py",
                          verdict = folder + "\\rows.txt";
        DeleteFileA(verdict.c_str());
        EXPECT_TRUE(WriteTextFile(input, json));
        EXPECT_TRUE(WriteTextFile(
            script,
            "import json, sys\n"
            "rows = json.load(open(sys.argv[1]))\n"
            "assert type(rows) is list, rows\n"
            "for row in rows:\n"
            "    assert type(row) is dict and sorted(row) == sorted(['group', 'control', 'min', "
            "'max', 'value', 'default', 'enabled']), row\n"
            "    assert all(type(row[k]) is int for k in ('min', 'max', 'value', 'default')), row\n"
            "    assert type(row['enabled']) is bool, row\n"
            "    print(row['group'], row['control'], row['min'], row['max'], row['value'], "
            "row['default'], int(row['enabled']))\n"));
        // The verdict appears whole, once Python is done.
        const std::string out = UnixPath(verdict);
        if (!StartUnixCommand("python3 '" + UnixPath(script) + "' '" + UnixPath(input) + "' >'" +
                              out + ".part' 2>&1; mv '" + out + ".part' '" + out + "'")) {
            ADD_FAILURE() << "no shell to run python3 in";
            return std::string();
        }
        for (int waited = 0; waited < 30000 && !FileExists(verdict); waited += 50) Sleep(50);
        std::string rows = ReadTextFile(verdict);
        if (rows.empty()) ADD_FAILURE() << "no verdict from python3";
        return rows;
    }
    static bool StoreSetting(const char* name, DWORD value) {
        return RegSetKeyValueA(HKEY_LOCAL_MACHINE, SettingsPath().c_str(), name, REG_DWORD, &value,
                               sizeof value) == ERROR_SUCCESS;
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
        {"save", "usage"},
        {"load a.txt b.txt", "usage"},
        {"list --json extra", "usage"},
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

    // Asked for, the help is no error, and names every command and exit status.
    ProgramResult help = Host("/?");
    EXPECT_EQ(0, help.exitCode) << help.output;
    for (const char* text : {"KOVALTIX list", "KOVALTIX get", "KOVALTIX set", "KOVALTIX reset",
                             "KOVALTIX save", "KOVALTIX load", "KOVALTIX window", "\n  0  ",
                             "\n  1  ", "\n  2  ", "\n  3  ", "\n  4  ", "\n  5  ", "\n  6  "})
        EXPECT_NE(std::string::npos, help.output.find(text)) << text << "\n" << help.output;
}

TEST_F(HostProgram, ListAndGetAsJsonHoldWhatTheTableShows) {
    // A value away from its default, and a negative one.
    ASSERT_EQ(0, Host("set Exposure 0 321").exitCode);
    ASSERT_EQ(0, Host("set Mirror -1").exitCode);
    const std::string table = TableText(Host("list").output);
    ASSERT_NE(std::string::npos, table.find("Exposure ExposureEx 1 500 321 ")) << table;

    ProgramResult list = Host("list --json");
    ASSERT_EQ(0, list.exitCode) << list.output;
    EXPECT_EQ(table, JsonRows(list.output)) << list.output;
    ProgramResult get = Host("get Mirror --json");
    ASSERT_EQ(0, get.exitCode) << get.output;
    EXPECT_EQ(TableText(Host("get Mirror").output), JsonRows(get.output)) << get.output;

    ASSERT_EQ(0, Host("reset Exposure").exitCode);
    ASSERT_EQ(0, Host("reset Mirror").exitCode);
}

TEST_F(HostProgram, SavedSettingsComeBackAfterAResetAndLeftOutControlsKeepTheirValues) {
    ASSERT_EQ(0, Host("set WhiteBalance 0 40 0 60").exitCode);
    ASSERT_EQ(0, Host("set Exposure 0 321").exitCode);
    ASSERT_EQ(0, Host("set Flip 1").exitCode);
    ASSERT_EQ(0, Host("set PowerLine 0").exitCode);
    const std::string file = folder + "\\camera.txt";
    ProgramResult save = Host("save \"" + file + "\"");
    ASSERT_EQ(0, save.exitCode) << save.output;
    const std::string saved = ReadTextFile(file);
    EXPECT_EQ("321", FileValue(saved, "ExposureEx")) << saved;
    EXPECT_EQ("40", FileValue(saved, "WBRedEx")) << saved;

    for (const char* group : {"WhiteBalance", "Exposure", "Flip", "PowerLine"})
        ASSERT_EQ(0, Host(std::string("reset ") + group).exitCode) << group;
    ASSERT_EQ(1u, Stored("AWBEx"));
    ASSERT_EQ(0u, Stored("FlipEx"));

    ProgramResult load = Host("load \"" + file + "\"");
    ASSERT_EQ(0, load.exitCode) << load.output;
    const struct {
        const char *group, *control;
        long value;
    } expected[] = {{"WhiteBalance", "AWBEx", 0},     {"WhiteBalance", "WBRedEx", 40},
                    {"WhiteBalance", "WBBlueEx", 60}, {"Exposure", "AECEx", 0},
                    {"Exposure", "ExposureEx", 321},  {"Flip", "FlipEx", 1},
                    {"PowerLine", "PowerLineEx", 0}};
    for (const auto& e : expected) {
        EXPECT_EQ(e.value, Get(e.group, e.control).value) << e.control;
        EXPECT_EQ(static_cast<DWORD>(e.value), Stored(e.control)) << e.control;
    }

    // A file naming one control of a group: the group's other controls, and other groups, keep
    // their values.
    ASSERT_TRUE(WriteTextFile(file, "wbredex = 70   # red only\r\n"));
    load = Host("load \"" + file + "\"");
    ASSERT_EQ(0, load.exitCode) << load.output;
    EXPECT_EQ(70u, Stored("WBRedEx"));
    EXPECT_EQ(60u, Stored("WBBlueEx"));
    EXPECT_EQ(0u, Stored("AWBEx"));
    EXPECT_EQ(321u, Stored("ExposureEx"));

    // A camera without automatic gain, its Value a leftover 1: the group is manual, so the
    // file's gain is taken rather than the default.
    ASSERT_TRUE(StoreSetting("AGCExEnb", 0));
    ASSERT_TRUE(StoreSetting("AGCEx", 1));
    ASSERT_TRUE(WriteTextFile(file, "GainEx = 5\n"));
    load = Host("load \"" + file + "\"");
    EXPECT_EQ(0, load.exitCode) << load.output;
    EXPECT_EQ(5u, Stored("GainEx")) << load.output;
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, SettingsPath().c_str(), "AGCExEnb");

    for (const char* group : {"WhiteBalance", "Exposure", "Gain", "Flip", "PowerLine"})
        ASSERT_EQ(0, Host(std::string("reset ") + group).exitCode) << group;
}

TEST_F(HostProgram, LoadRefusesABadFileWholeNamingItsLineAndAppliesNothing) {
    ASSERT_EQ(0, Host("set Exposure 0 200").exitCode);
    ASSERT_EQ(0, Host("reset Flip").exitCode);
    ASSERT_EQ(0, Host("reset Mirror").exitCode);
    const long gainMax = Get("Gain", "GainEx").max;
    // Good lines around the bad one, each differing from the camera's values: applying the
    // lines before it, or the ones after, would show.
    auto around = [](const std::string& bad) {
        return "FlipEx = 1\n" + bad + "\nMirrorEx = 1\nAECEx = 0\nExposureEx = 250\n";
    };
    const std::string missing = folder + "\\missing.txt";
    const struct {
        const char* name;
        std::string text;
        int status;
        std::string message;
    } cases[] = {
        {"unknown.txt", around("Brightness = 5"), 5, "line 2: unknown control \"Brightness\""},
        {"range.txt", around("GainEx = " + std::to_string(gainMax + 1)), 5,
         "line 2: GainEx = " + std::to_string(gainMax + 1) + " is outside"},
        {"malformed.txt", around("MirrorEx 0"), 5, "line 2: expected \"Name = value\""},
        {"long.txt", around("# " + std::string(100 * 1024, 'x')), 5, "line 2: longer than"},
        {"missing.txt", std::string(), 6, "\"" + missing + "\": no such file"},
    };
    for (const auto& c : cases) {
        const std::string file = folder + "\\" + c.name;
        DeleteFileA(file.c_str());
        if (!c.text.empty()) {
            ASSERT_TRUE(WriteTextFile(file, c.text));
        }
        ProgramResult load = Host("load \"" + file + "\"");
        EXPECT_EQ(c.status, load.exitCode) << c.name << "\n" << load.output;
        EXPECT_NE(std::string::npos, load.output.find(c.message)) << c.name << "\n" << load.output;
        EXPECT_EQ(0u, Stored("FlipEx")) << c.name;
        EXPECT_EQ(0u, Stored("MirrorEx")) << c.name;
        EXPECT_EQ(200u, Stored("ExposureEx")) << c.name;
    }
    EXPECT_EQ(0, Get("Flip", "FlipEx").value);
    EXPECT_EQ(0, Get("Mirror", "MirrorEx").value);
    EXPECT_EQ(200, Get("Exposure", "ExposureEx").value);
    ASSERT_EQ(0, Host("reset Exposure").exitCode);
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
    ProgramResult json = RunProgram(shipped + "list --json");
    EXPECT_EQ(0, json.exitCode) << json.output;
    EXPECT_EQ(std::string::npos, json.output.find("true")) << json.output;

    // No settings to save, nor any to load into: said so, with a status of its own.
    const std::string settings = BinFolder() + "no-camera-settings.txt";
    DeleteFileA(settings.c_str());
    ProgramResult save = RunProgram(shipped + "save \"" + settings + "\"");
    EXPECT_EQ(4, save.exitCode) << save.output;
    EXPECT_NE(std::string::npos, save.output.find("No camera")) << save.output;
    EXPECT_FALSE(FileExists(settings));
    ASSERT_TRUE(WriteTextFile(settings, "FlipEx = 1\n"));
    ProgramResult load = RunProgram(shipped + "load \"" + settings + "\"");
    EXPECT_EQ(4, load.exitCode) << load.output;
    EXPECT_NE(std::string::npos, load.output.find("No camera")) << load.output;
    DeleteFileA(settings.c_str());

    const std::string picture = BinFolder() + "no-camera-page.png";
    DeleteFileA(picture.c_str());
    ProgramResult window = RunProgram(shipped + "window --snapshot \"" + picture + "\"");
    EXPECT_EQ(3, window.exitCode) << window.output;
    EXPECT_NE(std::string::npos, window.output.find("not available")) << window.output;
    EXPECT_FALSE(FileExists(picture));
}

}  // namespace

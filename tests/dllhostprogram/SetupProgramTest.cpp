// MERSIVO.exe end to end: a full install from a package folder, then the registered uninstall
// command, with the driver-installer stand-in. The prefix must end as it began, except for
// what stays by design: the base and parent folders, and the running setup program with its
// loaded library.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Installer/DLL/InstallManifest.h"
#include "tests/common/TestPaths.h"
#include "tests/dllhostprogram/ProgramRunner.h"

namespace {

const char UninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char TestParent[] = "KovaltixSetupTest";
const char TestProduct[] = "Round Trip Camera";
const char TestProductName[] = "Kovaltix Round Trip";
const char TestDisplayName[] = "Remove Kovaltix Round Trip";

// What the round trip may touch outside the installation folder.
struct MachineState {
    bool uninstallKey, systemFile, desktopShortcut, startMenuFolder;
    bool operator==(const MachineState& o) const {
        return uninstallKey == o.uninstallKey && systemFile == o.systemFile &&
               desktopShortcut == o.desktopShortcut && startMenuFolder == o.startMenuFolder;
    }
};

class SetupProgram : public ::testing::Test {
protected:
    void SetUp() override {
        source = BinFolder() + "setupsource";
        base = BinFolder() + "setupbase";
        baseOption = base;
        install = base + "\\" + TestParent + "\\" + TestProduct;
        log = BinFolder() + "setup-dpinst.log";
        RemoveTree(source);
        RemoveTree(base);
        DeleteFileA(log.c_str());
        ASSERT_TRUE(CreateDirectoryA(source.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((source + "\\driver").c_str(), nullptr));
        // The built programs and libraries, a settings file, placeholders for the rest.
        for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e) {
            const std::string file = std::string(e->baseName) + e->extension;
            const bool driver = e->kind == DriverFile || e->kind == DriverInf;
            const std::string path = source + (driver ? "\\driver\\" : "\\") + file;
            if (e->kind == ManifestKind::SettingsFile)
                ASSERT_TRUE(WriteTextFile(path, "[Installer]\r\n"));
            else if (FileExists(BinFolder() + file))
                ASSERT_TRUE(CopyInto(BinFolder() + file, path)) << file;
            else
                ASSERT_TRUE(WriteTextFile(path, file));
            if (e->kind == ManifestKind::SystemFile) continue;
            (driver ? driverFiles : placed).push_back(file);
        }
        std::sort(placed.begin(), placed.end());
        placed.push_back("driver");
        SetEnvironmentVariableA("DPINST_LOG", log.c_str());
        SetEnvironmentVariableA("DPINST_EXIT", nullptr);
        systemFileBefore = FileExists(SystemFile());
    }
    void TearDown() override {
        RemoveTree(source);
        RemoveTree(base);
        DeleteFileA(log.c_str());
        SetEnvironmentVariableA("DPINST_LOG", nullptr);
        SetEnvironmentVariableA("DPINST_EXIT", nullptr);
        // Leaves nothing for later tests, whatever failed above.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(UninstallRoot) + TestProductName).c_str());
        DeleteFileA(DesktopShortcut().c_str());
        RemoveTree(StartMenuFolder());
        if (!systemFileBefore) DeleteFileA(SystemFile().c_str());
    }

    static std::string SystemFile() {
        char folder[MAX_PATH];
        GetSystemDirectoryA(folder, MAX_PATH);
        return std::string(folder) + "\\KOVALTIX.dll";
    }
    static std::string DesktopShortcut() {
        return SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\" + TestProductName + ".lnk";
    }
    static std::string StartMenuFolder() {
        return SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\" + TestProduct;
    }
    static MachineState State() {
        return {RegistryKeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + TestProductName),
                FileExists(SystemFile()), FileExists(DesktopShortcut()),
                FolderExists(StartMenuFolder())};
    }
    ProgramResult Setup(const std::string& arguments) {
        return RunProgram("\"" + source + "\\MERSIVO.exe\" /base \"" + baseOption + "\" /parent " +
                          TestParent + " /product \"" + TestProduct + "\" /name \"" +
                          TestProductName + "\" /display \"" + TestDisplayName + "\" " + arguments);
    }

    std::string source, base, install, log;
    std::string baseOption;  // base as the setup program is told it
    bool systemFileBefore = false;
    // What an installation holds, from the manifest: its folder's entries, sorted, and the
    // driver package.
    std::vector<std::string> placed, driverFiles;
};

TEST_F(SetupProgram, InstallThenUninstallLeavesTheMachineAsItWas) {
    const MachineState before = State();
    ASSERT_FALSE(before.uninstallKey);
    ASSERT_FALSE(before.systemFile) << "another test left the system copy behind";

    ProgramResult installed = Setup("");
    ASSERT_EQ(0, installed.exitCode) << installed.output;
    EXPECT_EQ(placed, FolderEntries(install));
    EXPECT_EQ(driverFiles.size(), FolderEntries(install + "\\driver").size());
    EXPECT_TRUE(FileExists(SystemFile()));
    EXPECT_TRUE(FileExists(DesktopShortcut()));
    EXPECT_EQ(2u, FolderEntries(StartMenuFolder()).size());
    const std::string key = std::string(UninstallRoot) + TestProductName;
    EXPECT_EQ(TestDisplayName, ReadRegistryString(HKEY_LOCAL_MACHINE, key, "DisplayName"));
    const std::string command = ReadRegistryString(HKEY_LOCAL_MACHINE, key, "UninstallString");
    EXPECT_NE(std::string::npos, command.find(install + "\\MERSIVO.exe")) << command;
    EXPECT_NE(std::string::npos, ReadTextFile(log).find("/path \"" + install + "\\driver\""))
        << ReadTextFile(log);

    // The registered command, exactly as the platform would run it; the names it needs come
    // from the installed settings file.
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("DPINST_EXIT", "0");
    ProgramResult removed = RunProgram("\"" + install + "\\MERSIVO.exe\" /uninstall");
    ASSERT_EQ(0, removed.exitCode) << removed.output;
    EXPECT_NE(std::string::npos,
              ReadTextFile(log).find("/u \"" + install + "\\driver\\VK4M220FL.inf\" /d /q"))
        << ReadTextFile(log);

    EXPECT_TRUE(before == State());
    // In use while the uninstall ran: only the setup program and its library remain, until
    // the next restart (Wine carries out pending deletions when the prefix restarts).
    for (const std::string& left : FolderEntries(install))
        EXPECT_TRUE(left == "MERSIVO.exe" || left == "BRALIMOND.dll") << left;
    ProgramResult restart = RunProgram("wineboot.exe -r");
    EXPECT_EQ(0, restart.exitCode) << restart.output;
    EXPECT_FALSE(FolderExists(install)) << "left after the restart";
    EXPECT_TRUE(FolderExists(base + "\\" + TestParent));
}

TEST_F(SetupProgram, ReportsAFailedInstallAndCanStillBeUninstalled) {
    // The base folder as a user may type it: its short name, forward slashes and a trailing
    // separator. The uninstall must still know it for the folder it runs from.
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
    char shortBase[MAX_PATH] = "";
    ASSERT_NE(0u, GetShortPathNameA(base.c_str(), shortBase, MAX_PATH));
    baseOption = std::string(shortBase) + "/";
    std::replace(baseOption.begin(), baseOption.end(), '\\', '/');
    ASSERT_NE(std::string::npos, baseOption.find('~')) << baseOption;

    SetEnvironmentVariableA("DPINST_EXIT", "0");  // the driver installer wants 1 for success
    ProgramResult installed = Setup("/desktop 0 /startmenu 0");
    EXPECT_EQ(1, installed.exitCode) << installed.output;
    EXPECT_TRUE(FileExists(install + "\\KOVALTIX.exe")) << "nothing is rolled back";
    EXPECT_FALSE(FileExists(DesktopShortcut()));
    EXPECT_FALSE(FolderExists(StartMenuFolder()));

    ProgramResult removed = RunProgram("\"" + install + "\\MERSIVO.exe\" /uninstall");
    EXPECT_EQ(0, removed.exitCode) << removed.output;
    EXPECT_FALSE(
        RegistryKeyExists(HKEY_LOCAL_MACHINE, std::string(UninstallRoot) + TestProductName));
    EXPECT_FALSE(FileExists(SystemFile()));
    for (const std::string& left : FolderEntries(install))
        EXPECT_TRUE(left == "MERSIVO.exe" || left == "BRALIMOND.dll") << left;
}

TEST_F(SetupProgram, RefusesBadOptionsBeforeTouchingAnything) {
    const MachineState before = State();
    const std::string longName(200, 'x');
    const char* const cases[] = {"/desktop 2",    "/startmenu yes", "/colour blue",  "/base",
                                 "/product \"\"", "/product ..",    "/name \"a\\b\""};
    for (const char* arguments : cases) {
        ProgramResult result = Setup(arguments);
        EXPECT_EQ(2, result.exitCode) << arguments << "\n" << result.output;
    }
    // The package folder is not an installation: nothing there is removed.
    ProgramResult notInstalled = RunProgram("\"" + source + "\\MERSIVO.exe\" /uninstall");
    EXPECT_EQ(2, notInstalled.exitCode) << notInstalled.output;
    EXPECT_NE(std::string::npos, notInstalled.output.find("installation folder"))
        << notInstalled.output;
    EXPECT_EQ(placed.size() + 1, FolderEntries(source).size());  // and the system file
    // Too long for the files below it, though each field fits.
    ProgramResult tooLong = Setup("/product " + longName);
    EXPECT_EQ(2, tooLong.exitCode) << tooLong.output;
    EXPECT_NE(std::string::npos, tooLong.output.find("too long")) << tooLong.output;
    ProgramResult fieldTooLong = Setup("/display " + std::string(300, 'y'));
    EXPECT_EQ(2, fieldTooLong.exitCode) << fieldTooLong.output;

    EXPECT_FALSE(FolderExists(base));
    EXPECT_TRUE(before == State());
    EXPECT_FALSE(FileExists(log)) << "the driver installer was started";
}

TEST_F(SetupProgram, SaysSoWhenItsLibraryIsMissing) {
    ASSERT_TRUE(DeleteFileA((source + "\\BRALIMOND.dll").c_str()));
    ProgramResult result = Setup("");
    EXPECT_EQ(3, result.exitCode) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("BRALIMOND.dll")) << result.output;

    // In code page 932 "\x83\x5C" is one character whose second byte is a backslash: a product
    // folder named with it, as an installation records it, passes the name checks and the
    // missing library is again what stops the program.
    ASSERT_TRUE(WriteTextFile(source + "\\Installer.ini",
                              "[Setup]\r\nProductFolder=\x83\x5C\x83\x74\x83\x67\r\n"));
    result = RunProgramInLocale("ja_JP.UTF-8", source + "\\MERSIVO.exe");
    EXPECT_EQ(3, result.exitCode) << result.output;
    EXPECT_FALSE(FolderExists(base));
}

}  // namespace

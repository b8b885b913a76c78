#include "tests/installer/InstallerFixture.h"

#include "Installer/DLL/SetupSupport.h"

#include "tests/common/TestPaths.h"

#include <shlobj.h>

#include <cctype>
#include <cstring>
#include <string>
#include <tuple>

namespace {

std::string CurrentFolder() {
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

std::string WindowsFile(const char* name) {
    char folder[MAX_PATH] = "";
    GetWindowsDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\" + name;
}

// win.ini, and whether a settings file of the bare name landed beside it.
std::string WinIni() {
    return ReadFileText(WindowsFile("win.ini")) +
           (FileExists(WindowsFile("Installer.ini")) ? "+Installer.ini" : "");
}

}  // namespace

class RoundTrip : public InstallerTest,
                  public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(RoundTrip, InstallsEverythingThenRemovesIt) {
    const bool desktop = std::get<0>(GetParam());
    const bool startMenu = std::get<1>(GetParam());
    FillContext(desktop, startMenu);
    ASSERT_TRUE(LoadSourceModule());
    const std::string install = InstallFolder();

    ASSERT_TRUE(Installer(&context));

    // Files: every manifest entry, with the source's content.
    std::vector<std::string> installed = InstalledFiles();
    installed.push_back("driver");
    EXPECT_EQ(installed, ListFolder(install));
    EXPECT_EQ(DriverFiles(), ListFolder(install + "\\driver"));
    EXPECT_EQ(ReadFileText(source + "License.txt"), ReadFileText(install + "\\License.txt"));
    EXPECT_EQ(ReadFileText(source + "driver\\VK4M220FL.inf"),
              ReadFileText(install + "\\driver\\VK4M220FL.inf"));
    EXPECT_EQ(ReadFileText(source + "KOVALTIX.dll"), ReadFileText(SystemCopy()));

    // Registration; the installation folder holds a blank, so the command is quoted.
    std::string value;
    ASSERT_TRUE(ReadRegistryString(UninstallKey(), "DisplayName", value));
    EXPECT_EQ(displayName, value);
    ASSERT_TRUE(ReadRegistryString(UninstallKey(), "UninstallString", value));
    EXPECT_EQ("\"" + install + "\\MERSIVO.exe\" /uninstall", value);

    // Settings: the choices recorded, the file's own content kept.
    EXPECT_EQ(desktop ? "1" : "0", Setting("DesctopShortCut"));
    EXPECT_EQ(startMenu ? "1" : "0", Setting("StartMenuShortCut"));
    char release[16] = "";
    GetPrivateProfileStringA("Version", "Release", "", release, sizeof release,
                             SettingsFile().c_str());
    EXPECT_STREQ("3", release);

    // Shortcuts.
    ShortcutInfo link;
    EXPECT_EQ(desktop, FileExists(DesktopLink()));
    if (desktop) {
        ASSERT_TRUE(ReadShortcut(DesktopLink(), link));
        EXPECT_EQ(install + "\\KOVALTIX.exe", link.target);
        EXPECT_EQ("", link.arguments);
        EXPECT_EQ(install, link.workingDirectory);
        EXPECT_EQ(productName, link.description);
        EXPECT_EQ(SW_SHOWNORMAL, link.showCommand);
    }
    EXPECT_EQ(startMenu, FolderExists(StartMenuFolder()));
    if (startMenu) {
        EXPECT_EQ((std::vector<std::string>{displayName + ".lnk", productName + ".lnk"}),
                  ListFolder(StartMenuFolder()));
        ASSERT_TRUE(ReadShortcut(StartMenuFolder() + "\\" + displayName + ".lnk", link));
        EXPECT_EQ(install + "\\MERSIVO.exe", link.target);
        EXPECT_EQ("/uninstall", link.arguments);
        EXPECT_EQ(install, link.workingDirectory);
        EXPECT_EQ(displayName, link.description);
        EXPECT_EQ(SW_SHOWNORMAL, link.showCommand);
        ASSERT_TRUE(ReadShortcut(StartMenuFolder() + "\\" + productName + ".lnk", link));
        EXPECT_EQ(install + "\\KOVALTIX.exe", link.target);
        EXPECT_EQ("", link.arguments);
        EXPECT_EQ(install, link.workingDirectory);
        EXPECT_EQ(productName, link.description);
        EXPECT_EQ(SW_SHOWNORMAL, link.showCommand);
    }

    // The installed DPInst ran by its full path (another DPInst.exe lies next to
    // the calling program and would win the search for a bare name).
    std::vector<std::string> log = DriverInstallerLog();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(install + "\\DPInst.exe", log[0]);
    EXPECT_EQ("DPInst.exe /q /lm /se /f /sa /sw /path \"" + install + "\\driver\"", log[1]);
    EXPECT_EQ(CurrentFolder(), log[2]);
    ClearDriverInstallerLog();

    // Uninstall from the installed copy of the library, with nothing but the four fields the
    // uninstall reads: the others hold no usable text at all.
    ASSERT_TRUE(LoadInstalledModule());
    SetDriverInstallerExit(0);
    std::memset(context.baseFolder, 'b', sizeof context.baseFolder);
    std::memset(context.parentFolder, 'p', sizeof context.parentFolder);
    std::memset(context.displayName, 'd', sizeof context.displayName);
    context.desktopShortcut = context.startMenuShortcut = 0;
    ASSERT_TRUE(Uninstaller(&context));

    log = DriverInstallerLog();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(install + "\\DPInst.exe", log[0]);
    EXPECT_EQ("DPInst.exe /u \"" + install + "\\driver\\VK4M220FL.inf\" /d /q", log[1]);
    EXPECT_FALSE(FileExists(DesktopLink()));
    EXPECT_FALSE(FolderExists(StartMenuFolder()));
    EXPECT_FALSE(RegistryKeyExists(UninstallKey()));
    EXPECT_FALSE(FileExists(SystemCopy()));
    // Only the library in use by this process may stay behind.
    const std::vector<std::string> left = ListFolder(install);
    EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"BRALIMOND.dll"});
    EXPECT_TRUE(FolderExists(base + "\\" + parent));
    DropModule();
}

INSTANTIATE_TEST_SUITE_P(ShortcutFlags, RoundTrip,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST_F(InstallerTest, ReinstallOverwritesAndReusesTheEntry) {
    ASSERT_TRUE(LoadSourceModule());
    ASSERT_TRUE(Installer(&context));
    ASSERT_TRUE(WriteFileText(source + "License.txt", "second edition"));
    FillContext(false, false);
    LoadSourceModule();
    std::strcpy(context.displayName, "Renamed");
    ASSERT_TRUE(Installer(&context));
    EXPECT_EQ("second edition", ReadFileText(InstallFolder() + "\\License.txt"));
    std::string value;
    ASSERT_TRUE(ReadRegistryString(UninstallKey(), "DisplayName", value));
    EXPECT_EQ("Renamed", value);
    EXPECT_EQ("0", Setting("DesctopShortCut"));
}

TEST_F(InstallerTest, DriverInstallerExitCodesDecide) {
    ASSERT_TRUE(LoadSourceModule());
    for (int code : {0, 2, -1}) {
        SetDriverInstallerExit(code);
        EXPECT_FALSE(Installer(&context)) << code;
    }
    // The installation is complete all the same.
    EXPECT_TRUE(FileExists(InstallFolder() + "\\driver\\Driver_Release.txt"));
    EXPECT_TRUE(RegistryKeyExists(UninstallKey()));
    EXPECT_TRUE(FileExists(DesktopLink()));
    EXPECT_EQ(9u, DriverInstallerLog().size());

    // Removal succeeds only on 0: with 1 everything stays.
    ASSERT_TRUE(LoadInstalledModule());
    SetDriverInstallerExit(1);
    EXPECT_FALSE(Uninstaller(&context));
    EXPECT_TRUE(FileExists(DesktopLink()));
    EXPECT_TRUE(FolderExists(StartMenuFolder()));
    EXPECT_TRUE(RegistryKeyExists(UninstallKey()));
    EXPECT_TRUE(FileExists(SystemCopy()));
    EXPECT_TRUE(FileExists(SettingsFile()));
}

TEST_F(InstallerTest, MissingSourceFileStopsTheCopies) {
    ASSERT_TRUE(DeleteFileA((source + "License.txt").c_str()));
    ASSERT_TRUE(LoadSourceModule());
    EXPECT_FALSE(Installer(&context));
    EXPECT_EQ((std::vector<std::string>{"Installer.ini", "MERSIVO.exe"}),
              ListFolder(InstallFolder()));
    EXPECT_FALSE(FileExists(SystemCopy()));
    EXPECT_FALSE(RegistryKeyExists(UninstallKey()));
    EXPECT_EQ("0", Setting("DesctopShortCut"));
    EXPECT_EQ("0", Setting("StartMenuShortCut"));
    EXPECT_FALSE(FileExists(DesktopLink()));
    EXPECT_TRUE(DriverInstallerLog().empty());
}

TEST_F(InstallerTest, MissingDriverFileStopsAfterTheEarlierOnes) {
    ASSERT_TRUE(DeleteFileA((source + "driver\\VK4M220FUx86.sys").c_str()));
    ASSERT_TRUE(LoadSourceModule());
    EXPECT_FALSE(Installer(&context));
    EXPECT_EQ(
        (std::vector<std::string>{"VK4M220FL.inf", "VK4M220FLamd64.sys", "VK4M220FLx86.sys",
                                  "VK4M220FUamd64.sys", "vk4m220flamd64.cat", "vk4m220flx86.cat"}),
        ListFolder(InstallFolder() + "\\driver"));
    EXPECT_TRUE(FileExists(SystemCopy()));
    EXPECT_FALSE(RegistryKeyExists(UninstallKey()));
}

TEST_F(InstallerTest, WithoutASettingsFileNothingIsWrittenElsewhere) {
    const std::string winIni = WinIni();
    // The setup program is the first entry: no settings file gets copied.
    ASSERT_TRUE(DeleteFileA((source + "MERSIVO.exe").c_str()));
    ASSERT_TRUE(LoadSourceModule());
    EXPECT_FALSE(Installer(&context));
    EXPECT_TRUE(ListFolder(InstallFolder()).empty());
    EXPECT_EQ(winIni, WinIni());
    EXPECT_EQ(7, static_cast<int>(GetProfileIntA("Installer", "DesctopShortCut", 7)));
    RemoveTree(base);

    // A module handle whose file name can't be found.
    FillContext(true, true);
    context.module = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7654320));
    EXPECT_FALSE(Installer(&context));
    EXPECT_FALSE(FolderExists(InstallFolder()));
    EXPECT_EQ(winIni, WinIni());
    EXPECT_EQ(7, static_cast<int>(GetProfileIntA("Installer", "StartMenuShortCut", 7)));
    EXPECT_FALSE(Uninstaller(&context));
}

TEST_F(InstallerTest, SystemCopyInUseDuringInstall) {
    ASSERT_TRUE(CopyFileA((source + "KOVALTIX.dll").c_str(), SystemCopy().c_str(), FALSE));
    ModuleHolder holder;
    ASSERT_TRUE(holder.Start(SystemCopy()));
    ASSERT_TRUE(LoadSourceModule());
    EXPECT_FALSE(Installer(&context));
    holder.Stop();
    EXPECT_EQ(InstalledFiles(), ListFolder(InstallFolder()));
    EXPECT_FALSE(FolderExists(InstallFolder() + "\\driver"));
    EXPECT_FALSE(RegistryKeyExists(UninstallKey()));
    EXPECT_TRUE(DriverInstallerLog().empty());
}

TEST_F(InstallerTest, SystemCopyInUseDuringUninstall) {
    ASSERT_TRUE(LoadSourceModule());
    ASSERT_TRUE(Installer(&context));
    ClearDriverInstallerLog();
    ASSERT_TRUE(LoadInstalledModule());
    SetDriverInstallerExit(0);
    {
        ModuleHolder holder;
        ASSERT_TRUE(holder.Start(SystemCopy()));
        EXPECT_FALSE(Uninstaller(&context));
    }
    EXPECT_TRUE(DriverInstallerLog().empty());
    EXPECT_TRUE(FileExists(DesktopLink()));
    EXPECT_TRUE(RegistryKeyExists(UninstallKey()));
    EXPECT_TRUE(FileExists(SystemCopy()));
    EXPECT_TRUE(FileExists(SettingsFile()));

    // Released again: the removal goes through.
    EXPECT_TRUE(Uninstaller(&context));
    EXPECT_FALSE(FileExists(SystemCopy()));
}

TEST_F(InstallerTest, SystemCopyHeldUnderOtherLetterCase) {
    ASSERT_TRUE(LoadSourceModule());
    ASSERT_TRUE(Installer(&context));
    ClearDriverInstallerLog();
    ASSERT_TRUE(LoadInstalledModule());
    SetDriverInstallerExit(0);
    ModuleHolder holder;
    ASSERT_TRUE(holder.Start(Upper(SystemCopy())));
    // The same file: refused before anything is removed.
    EXPECT_FALSE(Uninstaller(&context));
    holder.Stop();
    EXPECT_TRUE(DriverInstallerLog().empty());
    EXPECT_TRUE(FileExists(DesktopLink()));
    EXPECT_TRUE(FolderExists(StartMenuFolder()));
    EXPECT_TRUE(RegistryKeyExists(UninstallKey()));
    EXPECT_TRUE(FileExists(SystemCopy()));
    EXPECT_TRUE(FileExists(SettingsFile()));
}

TEST_F(InstallerTest, AnUninstallStoppedAtTheSystemCopyCanBeRunAgain) {
    ASSERT_TRUE(LoadSourceModule());
    ASSERT_TRUE(Installer(&context));
    ASSERT_TRUE(LoadInstalledModule());
    SetDriverInstallerExit(0);
    {
        // Open, not loaded: the in-use test lets it pass, its deletion fails.
        const HANDLE busy =
            CreateFileA(SystemCopy().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, busy);
        EXPECT_FALSE(Uninstaller(&context));
        CloseHandle(busy);
    }
    // Still registered, so the folder can still be confirmed.
    EXPECT_TRUE(RegistryKeyExists(UninstallKey()));
    EXPECT_TRUE(FileExists(SystemCopy()));
    EXPECT_TRUE(FileExists(SettingsFile()));

    EXPECT_TRUE(Uninstaller(&context));
    EXPECT_FALSE(RegistryKeyExists(UninstallKey()));
    EXPECT_FALSE(FileExists(SystemCopy()));
    EXPECT_FALSE(FileExists(DesktopLink()));
    EXPECT_FALSE(FolderExists(StartMenuFolder()));
    EXPECT_EQ(std::vector<std::string>{"BRALIMOND.dll"}, ListFolder(InstallFolder()));
}

TEST_F(InstallerTest, AbsentEntriesAndShortcutsDoNotFailTheRemoval) {
    ASSERT_TRUE(LoadSourceModule());
    ASSERT_TRUE(Installer(&context));
    DeleteRegistryKey(UninstallKey());
    ASSERT_TRUE(DeleteFileA(DesktopLink().c_str()));
    RemoveTree(StartMenuFolder());
    ASSERT_TRUE(DeleteFileA(SystemCopy().c_str()));
    ASSERT_TRUE(LoadInstalledModule());
    SetDriverInstallerExit(0);
    EXPECT_TRUE(Uninstaller(&context));
    // Without its entry the folder cannot be confirmed as the installation: it stays.
    EXPECT_TRUE(FileExists(SettingsFile()));
}

TEST_F(InstallerTest, MissingSettingsFileLeavesTheShortcuts) {
    ASSERT_TRUE(LoadSourceModule());
    ASSERT_TRUE(Installer(&context));
    ASSERT_TRUE(DeleteFileA(SettingsFile().c_str()));
    ASSERT_TRUE(LoadInstalledModule());
    SetDriverInstallerExit(0);
    EXPECT_TRUE(Uninstaller(&context));
    EXPECT_TRUE(FileExists(DesktopLink()));
    EXPECT_TRUE(FolderExists(StartMenuFolder()));
    EXPECT_FALSE(RegistryKeyExists(UninstallKey()));
}

TEST_F(InstallerTest, NamesThatAreNotNamesAreRefused) {
    // Each would make a folder, key or shortcut reach outside the one it names a member of (a
    // colon in a file name makes an alternate data stream).
    const char* const bad[] = {"", ".", "..", "up\\down", "up/down", "c:x"};
    for (const char* name : bad) {
        for (char* field : {context.parentFolder, context.productFolder, context.productName,
                            context.displayName}) {
            FillContext(true, true);
            LoadSourceModule();
            std::strcpy(field, name);
            EXPECT_FALSE(Installer(&context)) << "'" << name << "'";
        }
    }
    EXPECT_FALSE(FolderExists(base));
    EXPECT_FALSE(FileExists(SystemCopy()));
    EXPECT_TRUE(DriverInstallerLog().empty());

    // After a real installation the uninstall refuses them in the two names it reads.
    FillContext(true, true);
    LoadSourceModule();
    ASSERT_TRUE(Installer(&context));
    ClearDriverInstallerLog();
    LoadInstalledModule();
    SetDriverInstallerExit(0);
    for (const char* name : bad) {
        for (char* field : {context.productFolder, context.productName}) {
            const std::string kept = field;
            std::strcpy(field, name);
            EXPECT_FALSE(Uninstaller(&context)) << "'" << name << "'";
            std::strcpy(field, kept.c_str());
        }
    }
    EXPECT_TRUE(DriverInstallerLog().empty());
    EXPECT_TRUE(FolderExists(StartMenuFolder()));
    EXPECT_TRUE(RegistryKeyExists(UninstallKey()));
    EXPECT_TRUE(FileExists(SettingsFile()));

    // A double-byte name whose second byte is a backslash is a name (code page 932 here).
    EXPECT_EQ(context.productName, PlainName(context.productName));
    char japanese[8] = "\x83\x5C";
    EXPECT_EQ(IsDBCSLeadByte(0x83) ? japanese : nullptr, PlainName(japanese));
}

TEST_F(InstallerTest, UnterminatedFieldIsRefused) {
    ASSERT_TRUE(LoadSourceModule());
    std::memset(context.displayName, 'd', sizeof context.displayName);
    EXPECT_FALSE(Installer(&context));
    EXPECT_FALSE(FolderExists(base));
    FillContext(true, true);
    LoadSourceModule();
    std::memset(context.productName, 'p', sizeof context.productName);
    EXPECT_FALSE(Installer(&context));
    EXPECT_FALSE(Uninstaller(&context));
    EXPECT_FALSE(FolderExists(base));
}

TEST_F(InstallerTest, OverlongPathsAreRefusedBeforeAnyChange) {
    ASSERT_TRUE(LoadSourceModule());
    // The installation folder fits; a driver file's path below it does not.
    const std::string longBase = root + "\\" + std::string(200 - root.size(), 'b');
    std::strcpy(context.baseFolder, longBase.c_str());
    std::strcpy(context.parentFolder, "p");
    std::string longProduct(MAX_PATH - 1 - longBase.size() - 2 - 1 - 20, 'q');
    std::strcpy(context.productFolder, longProduct.c_str());
    ASSERT_LT(longBase.size() + 3 + longProduct.size() + std::strlen("\\DPInst.exe"),
              size_t(MAX_PATH));
    EXPECT_FALSE(Installer(&context));
    EXPECT_FALSE(FolderExists(longBase));
    EXPECT_FALSE(FileExists(SystemCopy()));
    EXPECT_FALSE(RegistryKeyExists(UninstallKey()));

    // The installation folder itself too long.
    const std::string longParent(250, 'r');
    std::strcpy(context.parentFolder, longParent.c_str());
    EXPECT_FALSE(Installer(&context));
    EXPECT_FALSE(FolderExists(longBase));
    EXPECT_TRUE(DriverInstallerLog().empty());
}

TEST_F(InstallerTest, UninstallerRemovesOnlyAFolderItsEntryNames) {
    ASSERT_TRUE(LoadSourceModule());
    ASSERT_TRUE(Installer(&context));
    ClearDriverInstallerLog();
    SetDriverInstallerExit(0);
    // From the source media, which holds the same names, settings file included: every step
    // runs, but the folder is not the one the Uninstall entry names, so it stays.
    ASSERT_TRUE(CopyFileA(SettingsFile().c_str(), (source + "Installer.ini").c_str(), FALSE));
    ASSERT_TRUE(LoadSourceModule());
    EXPECT_TRUE(Uninstaller(&context));
    const std::vector<std::string> log = DriverInstallerLog();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ("DPInst.exe /u \"" + source + "driver\\VK4M220FL.inf\" /d /q", log[1]);
    EXPECT_FALSE(RegistryKeyExists(UninstallKey()));
    EXPECT_FALSE(FileExists(SystemCopy()));
    EXPECT_FALSE(FolderExists(StartMenuFolder()));
    EXPECT_TRUE(FileExists(source + "MERSIVO.exe"));
    EXPECT_TRUE(FileExists(source + "driver\\VK4M220FL.inf"));
    EXPECT_TRUE(FileExists(SettingsFile()));

    // Installed under one spelling, removed from another: the same folder.
    std::string lowerBase = base;
    lowerBase[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowerBase[0])));
    std::strcpy(context.baseFolder, lowerBase.c_str());
    SetDriverInstallerExit(1);
    ASSERT_TRUE(Installer(&context));
    ASSERT_TRUE(LoadModuleAt(Upper(InstallFolder()) + "\\BRALIMOND.dll"));
    SetDriverInstallerExit(0);
    EXPECT_TRUE(Uninstaller(&context));
    EXPECT_FALSE(FileExists(SettingsFile()));
    EXPECT_FALSE(FolderExists(InstallFolder() + "\\driver"));
    EXPECT_TRUE(FileExists(source + "Installer.ini"));
}

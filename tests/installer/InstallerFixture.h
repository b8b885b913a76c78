#pragma once
#include "Installer/DLL/BRALIMOND.h"
#include "tests/common/TestPaths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

// Small file-system and registry helpers for the installer tests.
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);
std::vector<std::string> ListFolder(const std::string& folder);  // names, sorted, no dots
bool ReadRegistryString(const std::string& subkey, const char* value, std::string& out);
bool RegistryKeyExists(const std::string& subkey);
void DeleteRegistryKey(const std::string& subkey);
std::string SystemFolder();
std::string SpecialFolderPath(int csidl);
std::string Upper(std::string text);

struct ShortcutInfo {
    std::string target;
    std::string arguments;
    std::string workingDirectory;
    std::string description;
    int showCommand = -1;
};
bool ReadShortcut(const std::string& linkPath, ShortcutInfo& info);

// A process that keeps a DLL loaded until Stop().
class ModuleHolder {
public:
    ModuleHolder() = default;
    ~ModuleHolder() { Stop(); }
    ModuleHolder(const ModuleHolder&) = delete;
    ModuleHolder& operator=(const ModuleHolder&) = delete;
    bool Start(const std::string& dllPath);
    void Stop();

private:
    HANDLE process = nullptr;
    HANDLE input = nullptr;
};

// A source folder with every manifest file, an installation destination with
// a blank in its path, and cleanup of everything an installation may leave.
class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Fills the record; module is the source folder's BRALIMOND.dll copy.
    void FillContext(bool desktop, bool startMenu);
    bool LoadSourceModule();
    bool LoadInstalledModule();
    bool LoadModuleAt(const std::string& path);
    void DropModule();

    std::string InstallFolder() const { return base + "\\" + parent + "\\" + product; }
    std::string SettingsFile() const { return InstallFolder() + "\\Installer.ini"; }
    std::string DesktopLink() const;
    std::string StartMenuFolder() const;
    std::string UninstallKey() const;
    std::string SystemCopy() const { return SystemFolder() + "\\KOVALTIX.dll"; }
    std::string Setting(const char* key) const;

    // DPInst stand-in: exit code and the lines of its log (three per run).
    void SetDriverInstallerExit(int code);
    std::vector<std::string> DriverInstallerLog() const;
    void ClearDriverInstallerLog() const;

    std::string root;    // per-test folder under C:\ .
    std::string source;  // ends with a separator, like the library's source folder
    std::string base;
    std::string parent = "Vendor";
    std::string product;
    std::string productName;
    std::string displayName;
    std::string logPath;
    HMODULE module = nullptr;
    InstallContext context{};
    int handlesAtStart = -1;
};

// The files a complete installation leaves in the installation folder and its driver
// subfolder, from the manifest, sorted as ListFolder gives them.
std::vector<std::string> InstalledFiles();
std::vector<std::string> DriverFiles();

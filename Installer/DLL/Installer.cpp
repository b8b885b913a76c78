#include "Installer/DLL/BRALIMOND.h"
#include "Installer/DLL/InstallManifest.h"
#include "Common/Owners.h"
#include "Installer/DLL/SetupSupport.h"
#include "Installer/DLL/ShellHelpers.h"

#include <shlobj.h>
#include <cstdio>
#include <cstring>

namespace {

struct CopyStep {
    std::int32_t kind = EndOfManifest;
    PathText source;
    PathText folder;
    PathText destination;
};

constexpr int MaxManifestEntries = 32;

// Every source and destination path of the manifest, built before anything is
// copied so that an over-long one stops the call with nothing done.
bool PlanCopies(const PathText& sourceFolder, const PathText& installFolder,
                const PathText& driverFolder, const PathText& systemFolder,
                CopyStep (&steps)[MaxManifestEntries], int& count) {
    PathText driverSource(sourceFolder.c_str());
    driverSource.Append(DriverFolder);
    driverSource.Append("\\");
    if (!driverSource.ok()) return false;
    count = 0;
    for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e) {
        if (count == MaxManifestEntries) return false;
        CopyStep& step = steps[count++];
        step.kind = e->kind;
        const bool driver = e->kind == DriverFile || e->kind == DriverInf;
        const PathText& folder = driver                  ? driverFolder
                                 : e->kind == SystemFile ? systemFolder
                                                         : installFolder;
        step.folder.Append(folder.c_str());
        step.source.Append(driver ? driverSource.c_str() : sourceFolder.c_str());
        step.source.Append(e->baseName);
        step.source.Append(e->extension);
        step.destination.Append(folder.c_str());
        step.destination.Append("\\");
        step.destination.Append(e->baseName);
        step.destination.Append(e->extension);
        if (!step.folder.ok() || !step.source.ok() || !step.destination.ok()) return false;
    }
    return true;
}

bool Register(const ContextTexts& texts, const char* setupProgram) {
    // Quoted, so that blanks in the installation folder can't split the command.
    char command[MAX_PATH + 16];
    const int length = std::snprintf(command, sizeof command, "\"%s\" /uninstall", setupProgram);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof command) return false;

    RegistryKey uninstall;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyPath, 0, KEY_CREATE_SUB_KEY,
                      uninstall.Receive()) != ERROR_SUCCESS)
        return false;
    RegistryKey product;
    const LONG created =
        RegCreateKeyExA(uninstall.Get(), texts.productName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, product.Receive(), nullptr);
    uninstall.Reset();
    if (created != ERROR_SUCCESS) return false;
    if (RegSetValueExA(product.Get(), "DisplayName", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(texts.displayName),
                       static_cast<DWORD>(std::strlen(texts.displayName) + 1)) != ERROR_SUCCESS)
        return false;
    if (RegSetValueExA(product.Get(), "UninstallString", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(command),
                       static_cast<DWORD>(length + 1)) != ERROR_SUCCESS)
        return false;
    RegFlushKey(product.Get());
    return true;
}

// Written only into the installed settings file; without one nothing is written.
void RecordChoice(const PathText& settingsFile, const char* entry, bool made) {
    if (!settingsFile.empty())
        WritePrivateProfileStringA(SettingsSection, entry, made ? "1" : "0", settingsFile.c_str());
}

}  // namespace

extern "C" bool Installer(const InstallContext* context) {
    ContextTexts texts;
    if (!ReadContextTexts(*context, texts)) return false;
    PathText installFolder;
    if (!InstallationFolder(texts, installFolder)) return false;
    PathText driverFolder(installFolder.c_str());
    driverFolder.Append("\\");
    driverFolder.Append(DriverFolder);
    PathText driverInstaller(installFolder.c_str());
    driverInstaller.Append("\\");
    driverInstaller.Append(DriverInstallerFile);
    if (!driverFolder.ok() || !driverInstaller.ok()) return false;

    PathText sourceFolder;
    PathText systemFolder;
    if (!ModuleFolder(context->module, sourceFolder) || !SystemDirectory(systemFolder))
        return false;
    CopyStep steps[MaxManifestEntries];
    int count = 0;
    if (!PlanCopies(sourceFolder, installFolder, driverFolder, systemFolder, steps, count))
        return false;

    bool result = true;
    PathText setupProgram, settingsFile, mainProgram, driverInf;
    for (int i = 0; i < count && result; ++i) {
        const CopyStep& step = steps[i];
        result = CreateFolderTree(step.folder.c_str()) &&
                 CopyFileA(step.source.c_str(), step.destination.c_str(), FALSE);
        if (!result) break;
        switch (step.kind) {
        case SetupProgram:
            setupProgram = step.destination;
            break;
        case SettingsFile:
            settingsFile = step.destination;
            break;
        case MainProgram:
            mainProgram = step.destination;
            break;
        case DriverInf:
            driverInf = step.destination;
            break;
        default:
            break;
        }
    }

    if (result) result = Register(texts, setupProgram.c_str());

    if (result && context->desktopShortcut) {
        RecordChoice(settingsFile, DesktopEntry, true);
        result = CreateShortcut(mainProgram.c_str(), texts.productName, nullptr,
                                context->ownerWindow, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr,
                                nullptr, nullptr, SW_SHOWNORMAL, nullptr, 0);
    } else {
        RecordChoice(settingsFile, DesktopEntry, false);
    }

    if (result && context->startMenuShortcut) {
        RecordChoice(settingsFile, StartMenuEntry, true);
        result = CreateShortcut(setupProgram.c_str(), texts.displayName, nullptr,
                                context->ownerWindow, CSIDL_COMMON_PROGRAMS, texts.productFolder,
                                "/uninstall", nullptr, SW_SHOWNORMAL, nullptr, 0) &&
                 CreateShortcut(mainProgram.c_str(), texts.productName, texts.productName,
                                context->ownerWindow, CSIDL_COMMON_PROGRAMS, texts.productFolder,
                                nullptr, nullptr, SW_SHOWNORMAL, nullptr, 0);
    } else {
        RecordChoice(settingsFile, StartMenuEntry, false);
    }

    if (!result) return false;

    // DPInst gets the driver folder without its trailing separator.
    const PathParts parts = SplitPath(driverInf.c_str());
    PathText folder;
    folder.Append(driverInf.c_str() + parts.driveLength, parts.folderLength);
    folder.DropLast();
    char drive[3] = "";
    std::memcpy(drive, driverInf.c_str(), parts.driveLength);
    char commandLine[1024];
    const int length =
        std::snprintf(commandLine, sizeof commandLine, "%s /q /lm /se /f /sa /sw /path \"%s%s\"",
                      DriverInstallerFile, drive, folder.c_str());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof commandLine) return false;
    DWORD exitCode = 0;
    return RunAndWait(driverInstaller.c_str(), commandLine, exitCode) && exitCode == 1;
}

#include "Installer/DLL/BRALIMOND.h"
#include "Installer/DLL/InstallManifest.h"
#include "Common/Owners.h"
#include "Installer/DLL/SetupSupport.h"
#include "Installer/DLL/ShellHelpers.h"

#include <shlobj.h>
#include <cstdio>

namespace {

bool AppendEntry(PathText& path, std::int32_t kind) {
    const ManifestEntry* entry = FindManifestEntry(kind);
    return entry != nullptr && path.Append(entry->baseName) && path.Append(entry->extension);
}

bool RemoveDesktopShortcut(HWND owner, const char* productName) {
    PathText desktop;
    if (!SpecialFolder(owner, CSIDL_COMMON_DESKTOPDIRECTORY, desktop)) return true;
    PathText link(desktop.c_str());
    link.Append("\\");
    link.Append(productName);
    link.Append(".lnk");
    if (!link.ok()) return false;
    if (GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    return DeleteFileA(link.c_str()) != FALSE;
}

bool RemoveStartMenuFolder(HWND owner, const char* productFolder) {
    PathText programs;
    if (!SpecialFolder(owner, CSIDL_COMMON_PROGRAMS, programs)) return true;
    PathText folder(programs.c_str());
    folder.Append("\\");
    folder.Append(productFolder);
    return folder.ok() && RemoveFolderTree(folder.c_str());
}

bool Unregister(const char* productName) {
    RegistryKey uninstall;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKeyPath, 0, KEY_CREATE_SUB_KEY,
                      uninstall.Receive()) != ERROR_SUCCESS)
        return false;
    const LONG deleted = RegDeleteKeyA(uninstall.Get(), productName);
    if (deleted == ERROR_SUCCESS) {
        RegFlushKey(uninstall.Get());
        return true;
    }
    return deleted == ERROR_FILE_NOT_FOUND;
}

}  // namespace

extern "C" bool Uninstaller(const InstallContext* context) {
    // Of the record only module, ownerWindow, productFolder and productName are read.
    const char* productFolder = PlainName(context->productFolder);
    const char* productName = PlainName(context->productName);
    PathText installFolder;
    if (productFolder == nullptr || productName == nullptr ||
        !ModuleFolder(context->module, installFolder))
        return false;

    PathText settingsFile(installFolder.c_str());
    PathText driverInf(installFolder.c_str());
    PathText driverInstaller(installFolder.c_str());
    PathText systemFile;
    if (!AppendEntry(settingsFile, SettingsFile) || !driverInf.Append(DriverFolder) ||
        !driverInf.Append("\\") || !AppendEntry(driverInf, DriverInf) ||
        !driverInstaller.Append(DriverInstallerFile) || !SystemDirectory(systemFile) ||
        !systemFile.Append("\\") || !AppendEntry(systemFile, SystemFile))
        return false;

    if (IsModuleLoaded(systemFile.c_str())) return false;

    char commandLine[1024];
    const int length = std::snprintf(commandLine, sizeof commandLine, "%s /u \"%s\" /d /q",
                                     DriverInstallerFile, driverInf.c_str());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof commandLine) return false;
    DWORD exitCode = 1;
    if (!RunAndWait(driverInstaller.c_str(), commandLine, exitCode) || exitCode != 0) return false;

    if (GetPrivateProfileIntA(SettingsSection, DesktopEntry, 0, settingsFile.c_str()) != 0 &&
        !RemoveDesktopShortcut(context->ownerWindow, productName))
        return false;
    if (GetPrivateProfileIntA(SettingsSection, StartMenuEntry, 0, settingsFile.c_str()) != 0 &&
        !RemoveStartMenuFolder(context->ownerWindow, productFolder))
        return false;
    // Everything below the module's folder is about to go: only a folder that the product's
    // own Uninstall entry names as the setup program's qualifies, never the source media or
    // any other folder holding the same files. The entry is read before it is deleted.
    const bool confirmed = EntryNamesFolder(productName, installFolder.c_str());
    // The entry goes last: an uninstall that fails before stays registered, and running it
    // again can still confirm the folder and finish.
    if (GetFileAttributesA(systemFile.c_str()) != INVALID_FILE_ATTRIBUTES &&
        !DeleteFileA(systemFile.c_str()))
        return false;
    if (!Unregister(productName)) return false;

    // Files in use (the caller's own) keep the folder; that does not fail the call.
    installFolder.DropLast();
    if (confirmed) RemoveFolderTree(installFolder.c_str());
    return true;
}

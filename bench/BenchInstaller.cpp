// The installer's Installer and Uninstaller against the platform calls beneath them: a source
// folder made from the built files, the driver installer stand-in recording instead of installing.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Installer/DLL/BRALIMOND.h"
#include "Installer/DLL/InstallManifest.h"
#include "bench/BenchSupport.h"
#include "bench/Benches.h"
#include "tests/common/TestPaths.h"

namespace {

// ---- 4. Install and uninstall -------------------------------------------------------------------

std::string ExeFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n < MAX_PATH ? n : 0);
    const std::size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

std::string ShellFolder(int csidl) {
    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, folder, csidl, TRUE);
    return folder;
}

bool WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

struct Shortcut {
    std::string target, description, arguments, workingDirectory;
    std::wstring link;
};

// Everything the installation touches, named before the clock runs.
struct Installation {
    std::string root = "C:\\kovaltix-bench";
    std::string source = root + "\\source\\";
    std::string base = root + "\\Program Files";
    std::string parent = "Vendor";
    std::string product = "Kovaltix Bench";
    std::string productName = "KovaltixBench";
    std::string displayName = "Kovaltix Bench Uninstall";
    std::string folder = base + "\\" + parent + "\\" + product;
    std::string entryKey =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productName;
    std::string uninstallCommand = "\"" + folder + "\\MERSIVO.exe\" /uninstall";
    std::string settingsFile = folder + "\\Installer.ini";
    std::string driverInstaller = folder + "\\DPInst.exe";
    std::string installCommand =
        "DPInst.exe /q /lm /se /f /sa /sw /path \"" + folder + "\\driver\"";
    std::string removeCommand = "DPInst.exe /u \"" + folder + "\\driver\\VK4M220FL.inf\" /d /q";
    std::string desktop, programs, startMenuFolder, desktopLink;
    std::vector<std::string> folders;  // made in this order
    std::vector<std::pair<std::string, std::string>> copies;
    std::vector<Shortcut> shortcuts;
    std::string systemCopy;

    Installation() {
        desktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
        programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
        startMenuFolder = programs + "\\" + product;
        desktopLink = desktop + "\\" + productName + ".lnk";
        char system[MAX_PATH] = "";
        GetSystemDirectoryA(system, MAX_PATH);
        folders = {base, base + "\\" + parent, folder, folder + "\\driver"};
        for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e) {
            const std::string file = std::string(e->baseName) + e->extension;
            const bool driver = e->kind == DriverFile || e->kind == DriverInf;
            const std::string to = e->kind == SystemFile ? std::string(system)
                                   : driver              ? folder + "\\driver"
                                                         : folder;
            copies.emplace_back(source + (driver ? "driver\\" : "") + file, to + "\\" + file);
            if (e->kind == SystemFile) systemCopy = to + "\\" + file;
        }
        const std::string program = folder + "\\KOVALTIX.exe";
        const std::string setup = folder + "\\MERSIVO.exe";
        shortcuts = {
            {program, productName, "", folder, Wide(desktopLink)},
            {setup, displayName, "/uninstall", folder,
             Wide(startMenuFolder + "\\" + displayName + ".lnk")},
            {program, productName, "", folder, Wide(startMenuFolder + "\\" + productName + ".lnk")},
        };
    }

    static std::wstring Wide(const std::string& text) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH);
        return wide;
    }

    // A source folder with every manifest file, as the installer tests make it.
    bool MakeSource() const {
        const std::string bin = ExeFolder();
        if (!CreateDirectoryA(root.c_str(), nullptr) ||
            !CreateDirectoryA(source.c_str(), nullptr) ||
            !CreateDirectoryA((source + "driver").c_str(), nullptr))
            return false;
        for (const auto& copy : copies) {
            const std::string& path = copy.first;
            const std::string file = path.substr(path.find_last_of('\\') + 1);
            bool ok;
            if (file == "DPInst.exe")
                ok = CopyFileA((bin + "DPInst.exe").c_str(), path.c_str(), FALSE);
            else if (file == "BRALIMOND.dll" || file == "KOVALTIX.dll")
                ok = CopyFileA((bin + "BRALIMOND.dll").c_str(), path.c_str(), FALSE);
            else if (file == "Installer.ini")
                ok = WriteText(path, "[Version]\r\nRelease=3\r\n");
            else
                ok = WriteText(path, file + " from the source folder\r\n");
            if (!ok) return false;
        }
        return true;
    }

    void Clean() const {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, entryKey.c_str());
        DeleteFileA(desktopLink.c_str());
        RemoveTree(startMenuFolder);
        DeleteFileA(systemCopy.c_str());
        RemoveTree(root);
    }
};

bool RunAndWait(const std::string& program, const std::string& command, DWORD* exitCode) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    const BOOL ok = GetExitCodeProcess(process.hProcess, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ok != FALSE;
}

// The file's volume and index: what the in-use scan compares, whatever a path's spelling.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(file, info);
    CloseHandle(file);
    return ok != FALSE;
}

// True when some process has the file loaded: the check the uninstall must make before it
// removes the system copy, in its plainest form.
bool LoadedAnywhere(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION wanted;
    if (!FileIdentity(path, &wanted)) return false;
    DWORD processes[1024];
    DWORD bytes = 0;
    if (!EnumProcesses(processes, sizeof processes, &bytes)) return false;
    bool found = false;
    for (DWORD p = 0; p < bytes / sizeof processes[0] && !found; ++p) {
        HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processes[p]);
        if (!process) continue;
        HMODULE modules[1024];
        DWORD moduleBytes = 0;
        if (EnumProcessModules(process, modules, sizeof modules, &moduleBytes)) {
            const DWORD count = std::min<DWORD>(moduleBytes / sizeof modules[0], 1024);
            for (DWORD m = 0; m < count && !found; ++m) {
                char name[MAX_PATH];
                BY_HANDLE_FILE_INFORMATION loaded;
                found = GetModuleFileNameExA(process, modules[m], name, MAX_PATH) != 0 &&
                        FileIdentity(name, &loaded) &&
                        loaded.dwVolumeSerialNumber == wanted.dwVolumeSerialNumber &&
                        loaded.nFileIndexHigh == wanted.nFileIndexHigh &&
                        loaded.nFileIndexLow == wanted.nFileIndexLow;
            }
        }
        CloseHandle(process);
    }
    return found;
}

bool SaveShortcut(const Shortcut& s) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    if (ok) {
        link->SetPath(s.target.c_str());
        link->SetDescription(s.description.c_str());
        link->SetArguments(s.arguments.empty() ? nullptr : s.arguments.c_str());
        link->SetWorkingDirectory(s.workingDirectory.c_str());
        link->SetIconLocation(nullptr, 0);
        link->SetShowCmd(SW_SHOWNORMAL);
        ok = SUCCEEDED(file->Save(s.link.c_str(), TRUE));
        file->Release();
    }
    link->Release();
    return ok;
}

struct InstallFloor {
    const Installation& at;

    bool Install() const {
        for (const std::string& folder : at.folders) CreateDirectoryA(folder.c_str(), nullptr);
        bool ok = true;
        for (const auto& copy : at.copies)
            ok &= CopyFileA(copy.first.c_str(), copy.second.c_str(), FALSE) != FALSE;
        HKEY key = nullptr;
        ok &= RegCreateKeyExA(HKEY_LOCAL_MACHINE, at.entryKey.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                              nullptr) == ERROR_SUCCESS;
        RegSetValueExA(key, "DisplayName", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(at.displayName.c_str()),
                       static_cast<DWORD>(at.displayName.size() + 1));
        RegSetValueExA(key, "UninstallString", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(at.uninstallCommand.c_str()),
                       static_cast<DWORD>(at.uninstallCommand.size() + 1));
        RegCloseKey(key);
        WritePrivateProfileStringA("Installer", "DesctopShortCut", "1", at.settingsFile.c_str());
        WritePrivateProfileStringA("Installer", "StartMenuShortCut", "1", at.settingsFile.c_str());
        char folder[MAX_PATH];
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, TRUE);
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_PROGRAMS, TRUE);
        CreateDirectoryA(at.startMenuFolder.c_str(), nullptr);
        ok &= SUCCEEDED(CoInitialize(nullptr));
        for (const Shortcut& s : at.shortcuts) ok &= SaveShortcut(s);
        CoUninitialize();
        DWORD exitCode = 0;
        return RunAndWait(at.driverInstaller, at.installCommand, &exitCode) && exitCode == 1 && ok;
    }

    bool Uninstall() const {
        if (LoadedAnywhere(at.systemCopy)) return false;
        DWORD exitCode = 1;
        if (!RunAndWait(at.driverInstaller, at.removeCommand, &exitCode) || exitCode != 0)
            return false;
        GetPrivateProfileIntA("Installer", "DesctopShortCut", 0, at.settingsFile.c_str());
        GetPrivateProfileIntA("Installer", "StartMenuShortCut", 0, at.settingsFile.c_str());
        char folder[MAX_PATH];
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
        DeleteFileA(at.desktopLink.c_str());
        SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_PROGRAMS, FALSE);
        for (std::size_t i = 1; i < at.shortcuts.size(); ++i)
            DeleteFileW(at.shortcuts[i].link.c_str());
        RemoveDirectoryA(at.startMenuFolder.c_str());
        // The entry is read before it goes: only the folder it names is removed.
        HKEY key = nullptr;
        char command[2 * MAX_PATH];
        DWORD size = sizeof command;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, at.entryKey.c_str(), 0, KEY_QUERY_VALUE, &key);
        RegQueryValueExA(key, "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(command),
                         &size);
        RegCloseKey(key);
        const bool ok = RegDeleteKeyA(HKEY_LOCAL_MACHINE, at.entryKey.c_str()) == ERROR_SUCCESS;
        for (const auto& copy : at.copies) DeleteFileA(copy.second.c_str());
        RemoveDirectoryA(at.folders[3].c_str());
        RemoveDirectoryA(at.folders[2].c_str());
        return ok;
    }
};

}  // namespace

void BenchInstaller() {
    const char* name = "install + uninstall";
    const Installation at;
    at.Clean();
    if (!at.MakeSource()) {
        at.Clean();
        return Skip(name, 1.2, "the source folder could not be made");
    }
    SetEnvironmentVariableA("DPINST_LOG", nullptr);
    HMODULE sourceModule = LoadLibraryA((at.source + "BRALIMOND.dll").c_str());
    if (!sourceModule) {
        at.Clean();
        return Skip(name, 1.2, "the source folder's library did not load");
    }
    InstallContext context = {};
    context.module = sourceModule;
    std::strcpy(context.baseFolder, at.base.c_str());
    std::strcpy(context.parentFolder, at.parent.c_str());
    std::strcpy(context.productFolder, at.product.c_str());
    std::strcpy(context.productName, at.productName.c_str());
    std::strcpy(context.displayName, at.displayName.c_str());
    context.desktopShortcut = 1;
    context.startMenuShortcut = 1;

    int failedInstalls = 0, failedRemovals = 0;
    // The uninstall runs from the installed copy of the library, as a setup program would; loading
    // and freeing it is the caller's work and stays off the clock, on both sides.
    auto roundTrip = [&](const std::function<bool()>& install,
                         const std::function<bool(HMODULE)>& uninstall) {
        SetEnvironmentVariableA("DPINST_EXIT", "1");
        double seconds = 0;
        bool ok = true;
        seconds += Time([&] { ok = install(); });
        if (!ok) ++failedInstalls;
        HMODULE installed = LoadLibraryA((at.folder + "\\BRALIMOND.dll").c_str());
        SetEnvironmentVariableA("DPINST_EXIT", "0");
        seconds += Time([&] { ok = uninstall(installed); });
        if (!ok) ++failedRemovals;
        if (installed) FreeLibrary(installed);
        return seconds;
    };
    auto library = [&] {
        return roundTrip([&] { return Installer(&context); },
                         [&](HMODULE installed) {
                             InstallContext removal = context;
                             removal.module = installed;
                             return installed && Uninstaller(&removal);
                         });
    };
    const InstallFloor floorSide{at};
    auto floor = [&] {
        return roundTrip([&] { return floorSide.Install(); },
                         [&](HMODULE) { return floorSide.Uninstall(); });
    };
    const Figures figures = Measure(2, 1, library, floor);
    Table.push_back({name, figures, 1.2, true});
    if (failedInstalls || failedRemovals)
        Note(Findings, "install/uninstall: %d installs and %d uninstalls reported failure",
             failedInstalls, failedRemovals);
    Note(Notes,
         "installer: floor = the same %d file copies, Uninstall entry, settings file entries, 3 "
         "shortcuts (one COM session), the in-use scan, the driver installer started and waited "
         "for twice, and the same removals; both sides run the DPInst stand-in",
         static_cast<int>(at.copies.size()));

    Profile.push_back("installer sub-steps:");
    const double driverRun = MedianOf(5, [&] {
        DWORD code = 0;
        return Time([&] { RunAndWait(ExeFolder() + "DPInst.exe", at.installCommand, &code); });
    });
    Note(Profile, "  driver installer start + wait (each)   %s", Format(driverRun).c_str());
    // The system copy is gone by now: a file that exists and that no process has loaded makes
    // the scan look at every module, as during an uninstall.
    const std::string unloaded = ExeFolder() + "DPInst.exe";
    const double scan = MedianOf(5, [&] { return Time([&] { LoadedAnywhere(unloaded); }); });
    Note(Profile, "  in-use scan of all processes             %s", Format(scan).c_str());
    const double others = 2 * driverRun;
    Note(Profile, "  without the 2 driver installer runs:     library %s, floor %s, ratio %.3f",
         Format(figures.library - others).c_str(), Format(figures.floor - others).c_str(),
         (figures.library - others) / (figures.floor - others));
    const double flush = MedianOf(Rounds, [&] {
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                      0, KEY_CREATE_SUB_KEY, &key);
        const double t = Time([&] { RegFlushKey(key); });
        RegCloseKey(key);
        return t;
    });
    Note(Profile, "  RegFlushKey (the library makes 2)        %s", Format(flush).c_str());
    auto makeLink = [] {
        IShellLinkA* link = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkA, reinterpret_cast<void**>(&link))))
            link->Release();
    };
    const double session = MedianOf(Rounds, [&] {
        return Time([&] {
            CoInitialize(nullptr);
            makeLink();
            CoUninitialize();
        });
    });
    CoInitialize(nullptr);
    const double inSession = MedianOf(Rounds, [&] { return Time(makeLink); });
    CoUninitialize();
    Note(Profile, "  COM session of its own per shortcut      %s extra (library: 3, floor: 1)",
         Format(session - inSession).c_str());
    // File-system checks the library makes and the floor does not: a folder test before every
    // copy and shortcut, a link test, listing each folder it removes twice, and canonical forms
    // of two folders to compare.
    const std::string listed[] = {at.source + "*.*", at.source + "driver\\*.*"};
    const double checks = MedianOf(Rounds, [&] {
        return Time([&] {
            for (int i = 0; i < 20; ++i) GetFileAttributesA(at.source.c_str());
            for (int i = 0; i < 6; ++i) {
                WIN32_FIND_DATAA entry;
                HANDLE search = FindFirstFileA(listed[i % 2].c_str(), &entry);
                if (search == INVALID_HANDLE_VALUE) continue;
                while (FindNextFileA(search, &entry)) {
                }
                FindClose(search);
            }
            for (int i = 0; i < 2; ++i) {
                char full[MAX_PATH], longer[MAX_PATH];
                GetFullPathNameA(at.source.c_str(), MAX_PATH, full, nullptr);
                GetLongPathNameA(full, longer, MAX_PATH);
            }
        });
    });
    Note(Profile, "  20 folder tests, 6 listings, 2 long paths %s", Format(checks).c_str());

    FreeLibrary(sourceModule);
    SetEnvironmentVariableA("DPINST_EXIT", nullptr);
    at.Clean();
}

// Stand-in for the platform's driver package installer, DPInst.exe: a small program of ours that
// does what the installer library asks of the real one, with the platform's device-installation
// API, and ends with the real one's exit codes.
//
//   DPInst.exe [/q /lm /se /f /sa /sw] /path <folder>
//       puts each driver package of the folder (an INF) into the driver store and installs it on
//       the present devices it matches. Exit code, as DPInst counts: 1 for one package installed
//       on a device, 0x100 for one put into the store with no device to install it on,
//       0x80010000 for one that failed.
//   DPInst.exe /u <inf> /d [/q]
//       takes the package of <inf> off its devices and out of the store, deletes its services
//       and (/d) its driver files. Exit code 0, or 0x80010000. A package that is not installed
//       leaves nothing to do: 0, so that an uninstall stopped later can be run again.
//
// Wine 8.0's device installation finds no model decorated with an OS version and ignores an
// INF's Include and Needs entries; the stand-in installs a model on its devices itself, with
// SetupAPI's section calls, as Windows' does (Install.cpp). Wine loads a device's new function
// driver only when the device is plugged in again (its user-mode ways to restart a device are
// stubs), so where the tests' virtual USB bus runs, the stand-in re-plugs the camera after
// installing, and pulls it out while it removes the package, as Windows restarts the device
// itself.
//
// Tests of the installer's own steps use it as a recorder instead: with DPINST_LOG or DPINST_EXIT
// set it appends three lines to the file DPINST_LOG names (its own path, its command line, its
// current folder) and ends with DPINST_EXIT (default 1), installing nothing.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Common/Owners.h"
#include "StandIns/DPInst/Package.h"
#include "VirtualCamera/tool/VirtualBus.h"

namespace {

const int Failure = static_cast<int>(0x80010000);  // one package failed
const DWORD PlugWaitMs = 15000;

// ---- The recorder -----------------------------------------------------------------------------

bool Recording(int* code) {
    char log[MAX_PATH], exit[32];
    const DWORD logLength = GetEnvironmentVariableA("DPINST_LOG", log, MAX_PATH);
    const DWORD exitLength = GetEnvironmentVariableA("DPINST_EXIT", exit, sizeof exit);
    if (logLength == 0 && exitLength == 0) return false;
    if (logLength > 0 && logLength < MAX_PATH) {
        char self[MAX_PATH] = "", folder[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        GetCurrentDirectoryA(MAX_PATH, folder);
        if (FILE* file = std::fopen(log, "ab")) {
            std::fprintf(file, "%s\n%s\n%s\n", self, GetCommandLineA(), folder);
            std::fclose(file);
        }
    }
    *code = exitLength > 0 && exitLength < sizeof exit
                ? static_cast<int>(std::strtol(exit, nullptr, 10))
                : 1;
    return true;
}

// ---- /path: install -------------------------------------------------------------------------

// A present device and the package's model for it.
struct Match {
    std::string instanceId;
    Model model;
};

// Present devices that a model of the package matches, by the first of their hardware IDs that
// one does, as the platform ranks them.
std::vector<Match> MatchingDevices(const Package& package) {
    std::vector<Match> matched;
    const DeviceList list(
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    if (!list) return matched;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(list.Get(), i, &device); ++i) {
        char instance[MAX_DEVICE_ID_LEN];
        if (!SetupDiGetDeviceInstanceIdA(list.Get(), &device, instance, sizeof instance, nullptr))
            continue;
        for (const std::string& id : MultiText(list.Get(), &device, SPDRP_HARDWAREID)) {
            const auto model =
                std::find_if(package.models.begin(), package.models.end(),
                             [&](const Model& m) { return EqualNoCase(m.hardwareId, id); });
            if (model == package.models.end()) continue;
            matched.push_back({instance, *model});
            break;
        }
    }
    return matched;
}

// Each INF of the folder is a package. Exit code as DPInst counts: packages installed on a device
// in the low byte, put into the store only in the next, failed in the third, 0x80 on top when
// any failed.
int Install(const std::string& folder) {
    std::vector<std::string> infs;
    WIN32_FIND_DATAA found;
    const FindHandle search(FindFirstFileA((folder + "\\*.inf").c_str(), &found));
    if (!search) return Failure;
    do infs.push_back(folder + "\\" + found.cFileName);
    while (FindNextFileA(search.Get(), &found));
    // Wine 8.0 keeps a camera pulled out of the virtual bus among the present devices: where that
    // bus runs, it has the last word on whether the camera is there.
    VirtualBus bus;
    VusbBusStatus status = {};
    const bool virtualBus = bus.Open() && bus.Status(&status);
    const bool cameraOut = virtualBus && !status.cameraPlugged;
    int installed = 0, staged = 0, failed = 0;
    for (const std::string& inf : infs) {
        Package package;
        char stored[MAX_PATH];
        if (!ReadPackage(inf, &package) || !SetupCopyOEMInfA(inf.c_str(), nullptr, SPOST_PATH, 0,
                                                             stored, MAX_PATH, nullptr, nullptr)) {
            ++failed;
            continue;
        }
        bool onDevice = false, refused = false;
        for (const Match& match : cameraOut ? std::vector<Match>() : MatchingDevices(package)) {
            // The files come from beside the package's own INF; the device records the stored
            // copy, which the uninstall looks for.
            if (InstallOnDevice(inf, FileName(stored), match.model, match.instanceId))
                onDevice = true;
            else
                refused = true;
        }
        if (refused)
            ++failed;
        else if (onDevice)
            ++installed;
        else
            ++staged;
    }
    if (installed && virtualBus &&
        (!bus.UnplugCamera(PlugWaitMs) || !bus.PlugCamera(true, PlugWaitMs))) {
        ++failed;
        --installed;
    }
    return installed | staged << 8 | failed << 16 | (failed ? static_cast<int>(0x80000000) : 0);
}

// ---- /u: uninstall ----------------------------------------------------------------------------

std::string ReadWholeFile(const std::string& path) {
    std::string content;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
        std::fclose(file);
    }
    return content;
}

// The driver store's copy of the package: the INF in the platform's INF folder with the same
// content (the store may have renamed it).
std::string StoredInf(const std::string& inf) {
    const std::string content = ReadWholeFile(inf);
    char windows[MAX_PATH];
    if (content.empty() || GetWindowsDirectoryA(windows, MAX_PATH) == 0) return "";
    const std::string folder = std::string(windows) + "\\inf\\";
    WIN32_FIND_DATAA found;
    const FindHandle search(FindFirstFileA((folder + "*.inf").c_str(), &found));
    if (!search) return "";
    do {
        if (ReadWholeFile(folder + found.cFileName) == content) return folder + found.cFileName;
    } while (FindNextFileA(search.Get(), &found));
    return "";
}

// Every device, present or not, whose driver came from the stored INF loses it and its node: the
// driver's key first, which would otherwise outlive the node.
bool RemoveFromDevices(const std::string& storedName) {
    const DeviceList list(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!list) return false;
    bool removed = true;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(list.Get(), i, &device); ++i) {
        const HKEY opened = SetupDiOpenDevRegKey(list.Get(), &device, DICS_FLAG_GLOBAL, 0,
                                                 DIREG_DRV, KEY_ALL_ACCESS);
        if (opened == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) continue;
        {
            const RegistryKey driverKey(opened);
            char infPath[MAX_PATH] = "";
            DWORD size = sizeof infPath - 1;
            if (RegQueryValueExA(driverKey.Get(), "InfPath", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(infPath), &size) != ERROR_SUCCESS ||
                !EqualNoCase(infPath, storedName))
                continue;
            RegDeleteTreeA(driverKey.Get(), nullptr);
        }
        SetupDiDeleteDevRegKey(list.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV);
        if (!SetupDiCallClassInstaller(DIF_REMOVE, list.Get(), &device)) removed = false;
    }
    return removed;
}

bool DeleteServices(const Package& package) {
    struct ServiceTraits {
        using Value = SC_HANDLE;
        static Value Invalid() { return nullptr; }
        static void Close(Value handle) { CloseServiceHandle(handle); }
    };
    using Service = Scoped<ServiceTraits>;
    const Service manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    bool deleted = true;
    for (const std::string& name : package.services) {
        const Service service(OpenServiceA(manager.Get(), name.c_str(), SERVICE_ALL_ACCESS));
        if (!service) continue;
        SERVICE_STATUS status;
        ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
        if (!DeleteService(service.Get())) {
            deleted = false;
            continue;
        }
        // A driver still loaded keeps its service until the platform restarts (Wine 8.0 never
        // unloads a function driver whose device went, where Windows does): its key goes now,
        // as the restart would take it.
        const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + name;
        if (RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()) == ERROR_SUCCESS)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    }
    return deleted;
}

int Uninstall(const std::string& inf, bool deleteFiles) {
    Package package;
    if (!ReadPackage(inf, &package)) return Failure;
    bool done = true;
    // A package no longer in the store has left its devices already; what may remain of an
    // earlier run (services, files) still goes.
    const std::string stored = StoredInf(inf);
    // The camera leaves the bus first, so that its driver's stack is torn down, and comes back
    // at the end; one that was out stays out.
    VirtualBus bus;
    VusbBusStatus status = {};
    const bool replug =
        !stored.empty() && bus.Open() && bus.Status(&status) && status.cameraPlugged;
    if (!stored.empty()) {
        if (replug && !bus.UnplugCamera(PlugWaitMs)) return Failure;
        done = RemoveFromDevices(FileName(stored));
        done = SetupUninstallOEMInfA(FileName(stored).c_str(), SUOI_FORCEDELETE, nullptr) && done;
        DeleteFileA((stored.substr(0, stored.size() - 4) + ".pnf").c_str());
    }
    done = DeleteServices(package) && done;
    if (deleteFiles) {
        // A driver file still mapped goes when the platform restarts, as the service does.
        for (const std::string& file : package.files)
            if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES &&
                !DeleteFileA(file.c_str()) &&
                !MoveFileExA(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                done = false;
    }
    // Back on the bus, the camera is a device without a driver, as before the installation.
    if (replug && !bus.PlugCamera(false, PlugWaitMs)) done = false;
    return done ? 0 : Failure;
}

}  // namespace

int main(int argc, char** argv) {
    int code = 0;
    if (Recording(&code)) return code;
    std::string path, uninstall;
    bool deleteFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (EqualNoCase(option, "/path") && i + 1 < argc)
            path = argv[++i];
        else if (EqualNoCase(option, "/u") && i + 1 < argc)
            uninstall = argv[++i];
        else if (EqualNoCase(option, "/d"))
            deleteFiles = true;
    }
    if (!uninstall.empty()) return Uninstall(uninstall, deleteFiles);
    if (!path.empty()) return Install(path);
    return Failure;
}

// Acceptance host: a program a host developer could write against the SDK alone (KOVALTIX.h,
// BRALIMOND.h and the import libraries), run on the shipped DLLs over the virtual USB hardware in
// the platform's kernel. Built twice, by clang in MSVC mode and by MinGW's g++, for both
// architectures. One phase a process, in the order the live stage runs them:
//   <host> install <installation base folder>
//       the camera is plugged in, the product not installed: the library is inert (no driver, so
//       no capture interface); then Installer through BRALIMOND.h: the camera gets the platform's
//       class driver with the package's filter above it, and its capture interface;
//   <host> live
//       the library is live; every group's Set_/Get_/Reset_ checked three ways (Get_, the
//       driver's Settings key, the value the camera holds), the stack the package built, the page
//       in a real window, the next live instance, a refused write coming back as false;
//   <host> settings | reset
//       sets (or resets) flip and a manual exposure through the library and ends: the live stage
//       then looks at the camera itself, with no host running, across replugs and restarts;
//   <host> replug
//       the library over a camera pulled out and put back while the page is open, and over one
//       that answers nothing;
//   <host> uninstall <installation base folder>
//       Uninstaller through the installed library; then a new process: the library is inert
//       again, the camera has no driver, and the package is out of the driver store;
//   <host> cycle <installation base folder>
//       install, live and uninstall in one run, the live and inert checks in processes of their
//       own;
//   <host> leftovers
//       after the platform restarted: no service, driver file or store entry of the package.
// It prints "PASS <check>" or "FAIL <check>: <detail>" per check and "acceptance done" last.
// The host lies in an installation source folder: every file of the manifest beside it.
#include <windows.h>
#include <setupapi.h>
#include <shlobj.h>

#include "Checks.h"
#include "HostSupport.h"

#if defined(_MSC_VER)
const char Abi[] = "MSVC";
#else
const char Abi[] = "GCC";
#endif

namespace {

const char UninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char PackageService[] = "SYSTEM\\CurrentControlSet\\Services\\VK4M220FL";
const char CameraClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{ca3e7ab9-b4c3-4ae6-8251-579ef933890f}";

// ---- Install and uninstall ------------------------------------------------------------------

struct Installation {
    InstallContext context;
    char folder[MAX_PATH];
    char uninstallKey[MAX_PATH];
    char systemCopy[MAX_PATH];
    char desktopLink[MAX_PATH];
    char startMenu[MAX_PATH];
};

void Describe(Installation& i, const char* base) {
    FillBytes(&i.context, 0, sizeof i.context);
    i.context.module = GetModuleHandleA("BRALIMOND.dll");
    CopyText(i.context.baseFolder, sizeof i.context.baseFolder, base);
    CopyText(i.context.parentFolder, sizeof i.context.parentFolder, "Kovaltix Acceptance");
    Format(i.context.productFolder, sizeof i.context.productFolder, "Camera %s", Abi);
    Format(i.context.productName, sizeof i.context.productName, "Kovaltix Camera %s", Abi);
    Format(i.context.displayName, sizeof i.context.displayName, "Uninstall Kovaltix Camera %s",
           Abi);
    i.context.desktopShortcut = 1;
    i.context.startMenuShortcut = 1;
    Format(i.folder, sizeof i.folder, "%s\\%s\\%s", base, i.context.parentFolder,
           i.context.productFolder);
    Format(i.uninstallKey, sizeof i.uninstallKey, "%s%s", UninstallRoot, i.context.productName);
    char system[MAX_PATH], desktop[MAX_PATH], programs[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    Format(i.systemCopy, sizeof i.systemCopy, "%s\\KOVALTIX.dll", system);
    SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
    SHGetSpecialFolderPathA(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    Format(i.desktopLink, sizeof i.desktopLink, "%s\\%s.lnk", desktop, i.context.productName);
    Format(i.startMenu, sizeof i.startMenu, "%s\\%s", programs, i.context.productFolder);
}

bool KeyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

PHASE void Install(Installation& i) {
    Expect(Installer(&i.context), "Installer succeeds, the driver installer included", "");
    char file[MAX_PATH], uninstallString[2 * MAX_PATH] = "", expected[2 * MAX_PATH];
    Format(file, sizeof file, "%s\\driver\\VK4M220FL.inf", i.folder);
    DWORD size = sizeof uninstallString;
    RegGetValueA(HKEY_LOCAL_MACHINE, i.uninstallKey, "UninstallString", RRF_RT_REG_SZ, nullptr,
                 uninstallString, &size);
    Format(expected, sizeof expected, "\"%s\\MERSIVO.exe\" /uninstall", i.folder);
    Expect(FileExists(file) && FileExists(i.systemCopy),
           "installed: driver package and system copy", "%s", file);
    Expect(TextEquals(uninstallString, expected), "installed: the Uninstall entry", "'%s'",
           uninstallString);
    Expect(FileExists(i.desktopLink) && FolderExists(i.startMenu), "installed: the shortcuts", "%s",
           i.desktopLink);
    char service[64], filter[64];
    DWORD characteristics = 0;
    Expect(CameraDrivers(service, filter, &characteristics) &&
               lstrcmpiA(service, "usbvideo") == 0 && lstrcmpiA(filter, "VK4M220FL") == 0,
           "installed: the platform's class driver runs the camera, the package's filter above it",
           "service '%s', upper filter '%s'", service, filter);
    // FILE_DEVICE_SECURE_OPEN: the device's security covers names inside it, \GLOBAL among them.
    Expect(characteristics == 0x100, "installed: opens inside the device are checked as the device",
           "DeviceCharacteristics %lx", characteristics);
    Expect(CaptureInterfacePresent(), "installed: the camera's capture interface is present", "");
    InterfaceChecks();
}

PHASE void Uninstall(Installation& i) {
    // The installed copy of the library is the module the uninstall runs from.
    char file[MAX_PATH];
    Format(file, sizeof file, "%s\\BRALIMOND.dll", i.folder);
    HMODULE installed = LoadLibraryA(file);
    i.context.module = installed;
    FillBytes(i.context.baseFolder, 0, sizeof i.context.baseFolder);
    FillBytes(i.context.parentFolder, 0, sizeof i.context.parentFolder);
    Expect(installed != nullptr && Uninstaller(&i.context), "Uninstaller succeeds", "");
    Expect(!KeyExists(i.uninstallKey) && !FileExists(i.systemCopy) && !FileExists(i.desktopLink) &&
               !FolderExists(i.startMenu),
           "uninstalled: entry, system copy and shortcuts gone", "");
    Format(file, sizeof file, "%s\\driver", i.folder);
    Expect(!FolderExists(file), "uninstalled: the driver package's copy gone", "");
    if (installed) FreeLibrary(installed);
    RemoveLeftovers(i.folder);
}

// ---- What the package leaves -----------------------------------------------------------------

// A file of the platform's INF folder that names the package.
bool PackageInStore() {
    char windows[MAX_PATH], pattern[MAX_PATH], path[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    Format(pattern, sizeof pattern, "%s\\inf\\*.inf", windows);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    static char content[65536];
    do {
        Format(path, sizeof path, "%s\\inf\\%s", windows, entry.cFileName);
        HANDLE file =
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        DWORD read = 0;
        ReadFile(file, content, sizeof content - 1, &read, nullptr);
        CloseHandle(file);
        content[read] = '\0';
        for (DWORD at = 0; !found && at + 9 <= read; ++at)
            found = CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, content + at, 9, "VK4M220FL",
                                   9) == CSTR_EQUAL;
    } while (!found && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

// A driver key of the camera class installed from the package's section.
bool PackageDriverKey() {
    HKEY classKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CameraClassKey, 0, KEY_READ, &classKey) != ERROR_SUCCESS)
        return false;
    bool found = false;
    char name[64];
    for (DWORD i = 0; !found && RegEnumKeyA(classKey, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
        char section[64] = "";
        DWORD size = sizeof section;
        found = RegGetValueA(classKey, name, "InfSection", RRF_RT_REG_SZ, nullptr, section,
                             &size) == ERROR_SUCCESS &&
                lstrcmpiA(section, "Camera") == 0;
    }
    RegCloseKey(classKey);
    return found;
}

void NothingOfTheDriverLeft(const char* when) {
    char check[96], service[64], filter[64];
    Format(check, sizeof check, "%s: the camera is there without a driver", when);
    Expect(CameraDrivers(service, filter) && service[0] == '\0' && filter[0] == '\0', check,
           "service '%s', upper filter '%s'", service, filter);
    Format(check, sizeof check, "%s: no capture interface", when);
    Expect(!CaptureInterfacePresent(), check, "");
    Format(check, sizeof check, "%s: the package is out of the driver store", when);
    Expect(!PackageInStore() && !PackageDriverKey(), check, "");
    Format(check, sizeof check, "%s: the package's service is gone", when);
    Expect(!KeyExists(PackageService), check, "");
}

// Where the platform put the package's drivers is the INF's to say (the filter in the driver
// store, the library beside the platform's drivers): asked of the source's copy of it.
void NoDriverFiles() {
    char self[MAX_PATH], inf[MAX_PATH], folder[MAX_PATH], path[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    for (unsigned i = TextLength(self, sizeof self); i > 0 && self[i - 1] != '\\'; --i)
        self[i - 1] = 0;
    Format(inf, sizeof inf, "%sdriver\\VK4M220FL.inf", self);
    HINF package = SetupOpenInfFileA(inf, nullptr, INF_STYLE_WIN4, nullptr);
    Expect(package != INVALID_HANDLE_VALUE, "the package's INF can be read", "%s", inf);
    if (package == INVALID_HANDLE_VALUE) return;
    const char* const sections[] = {"Camera.Filter.x86", "Camera.Library.x86",
                                    "Camera.Filter.amd64", "Camera.Library.amd64"};
    for (const char* section : sections) {
        INFCONTEXT line;
        if (!SetupGetTargetPathA(package, nullptr, section, folder, MAX_PATH, nullptr) ||
            !SetupFindFirstLineA(package, section, nullptr, &line)) {
            Expect(false, "the package's driver sections can be read", "%s", section);
            continue;
        }
        char name[MAX_PATH];
        SetupGetStringFieldA(&line, 1, name, MAX_PATH, nullptr);
        Format(path, sizeof path, "%s\\%s", folder, name);
        Expect(!FileExists(path), "after a restart: the package's driver files are gone", "%s",
               path);
    }
    SetupCloseInfFile(package);
}

// ---- What the camera keeps -------------------------------------------------------------------

// Flip on and a manual exposure of 123 (or both back to their defaults), through the library;
// the live stage then asks the camera itself, once no host runs.
PHASE void Settings(bool reset) {
    KOVALTIX* k = new KOVALTIX;
    const bool ok =
        reset ? k->Reset_Flip() && k->Reset_Exposure() : k->Set_Flip(1) && k->Set_Exposure(0, 123);
    unsigned long flip = 0, exposure = 0;
    CameraHolds(48, &flip);
    CameraHolds(42, &exposure);
    Expect(ok && flip == (reset ? 0u : 1u) && exposure == (reset ? 255u : 123u),
           reset ? "flip and exposure reset to their defaults" : "flip on, manual exposure 123",
           "result %d, camera flip %lu, exposure %lu", ok, flip, exposure);
    delete k;
}

int RunChild(const char* phase) {
    char self[MAX_PATH], line[2 * MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    Format(line, sizeof line, "\"%s\" %s", self, phase);
    // The child's checks go to the same output as this process's.
    STARTUPINFOA startup;
    FillBytes(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(startup.hStdOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int RunAcceptance(int argc, char** argv) {
    if (argc < 2) {
        Print(
            "usage: <host> install|uninstall <installation base folder> | live | settings |\n"
            "       reset | replug | leftovers\n");
        return 2;
    }
    const char* phase = argv[1];
    if (TextEquals(phase, "leftovers")) {
        NothingOfTheDriverLeft("after a restart");
        NoDriverFiles();
        return Finish();
    }
    HWND parent = CreateHostWindow();
    if (TextEquals(phase, "install") && argc == 3) {
        Print("%s host, %d-bit\n", Abi, static_cast<int>(sizeof(void*) * 8));
        Expect(parent != nullptr, "host window with the trackbar class registered", "");
        Inert("before the installation", parent);
        Installation installation;
        Describe(installation, argv[2]);
        Install(installation);
    } else if (TextEquals(phase, "live")) {
        Live(parent);
    } else if (TextEquals(phase, "settings") || TextEquals(phase, "reset")) {
        Settings(TextEquals(phase, "reset"));
    } else if (TextEquals(phase, "replug")) {
        Replug(parent);
    } else if (TextEquals(phase, "cycle") && argc == 3) {
        // The phases above from install to uninstall, in two processes fewer.
        Print("%s host, %d-bit\n", Abi, static_cast<int>(sizeof(void*) * 8));
        Inert("before the installation", parent);
        Installation installation;
        Describe(installation, argv[2]);
        Install(installation);
        Expect(RunChild("live") == 0, "the live process ends well", "");
        Uninstall(installation);
        Expect(RunChild("inert") == 0, "the process after the uninstall ends well", "");
    } else if (TextEquals(phase, "uninstall") && argc == 3) {
        Installation installation;
        Describe(installation, argv[2]);
        Uninstall(installation);
        Expect(RunChild("inert") == 0, "the process after the uninstall ends well", "");
    } else if (TextEquals(phase, "inert")) {
        Inert("uninstalled", parent);
        NothingOfTheDriverLeft("uninstalled");
    } else {
        Print("unknown phase %s\n", phase);
        return 2;
    }
    DestroyWindow(parent);
    return Finish();
}

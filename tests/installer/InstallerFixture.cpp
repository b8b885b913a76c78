#include "tests/installer/InstallerFixture.h"

#include "Installer/DLL/InstallManifest.h"
#include "tests/common/HandleCount.h"
#include "tests/common/TestPaths.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {
const char UninstallRoot[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
}

namespace {

std::vector<std::string> ManifestFiles(bool driver) {
    std::vector<std::string> files;
    for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e) {
        const bool inDriverFolder = e->kind == DriverFile || e->kind == DriverInf;
        if (e->kind != SystemFile && inDriverFolder == driver)
            files.push_back(std::string(e->baseName) + e->extension);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::vector<std::string> InstalledFiles() { return ManifestFiles(false); }

std::vector<std::string> DriverFiles() { return ManifestFiles(true); }

bool FileExists(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool ReadRegistryString(const std::string& subkey, const char* value, std::string& out) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char data[1024] = "";
    DWORD type = 0;
    DWORD size = sizeof data - 1;
    const LONG r =
        RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ || size == 0 || data[size - 1] != '\0') return false;
    out = data;
    return true;
}

bool RegistryKeyExists(const std::string& subkey) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void DeleteRegistryKey(const std::string& subkey) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, subkey.c_str());
}

std::string SystemFolder() {
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    return folder;
}

std::string SpecialFolderPath(int csidl) {
    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, folder, csidl, TRUE);
    return folder;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool ReadShortcut(const std::string& linkPath, ShortcutInfo& info) {
    if (FAILED(CoInitialize(nullptr))) return false;
    bool ok = false;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t wide[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
            if (SUCCEEDED(file->Load(wide, STGM_READ))) {
                char text[1024];
                text[0] = '\0';
                link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH);
                info.target = text;
                text[0] = '\0';
                link->GetArguments(text, sizeof text);
                info.arguments = text;
                text[0] = '\0';
                link->GetWorkingDirectory(text, sizeof text);
                info.workingDirectory = text;
                text[0] = '\0';
                link->GetDescription(text, sizeof text);
                info.description = text;
                ok = true;
            }
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    // Wine's link object does not give back the stored show command, so it is
    // read from the file's header (a 32-bit value at offset 0x3C).
    const std::string bytes = ReadFileText(linkPath);
    if (ok && bytes.size() >= 0x40) std::memcpy(&info.showCommand, bytes.data() + 0x3C, 4);
    return ok;
}

bool ModuleHolder::Start(const std::string& dllPath) {
    Stop();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(&inputRead, &inputWrite, &inherit, 0)) return false;
    if (!CreatePipe(&outputRead, &outputWrite, &inherit, 0)) {
        CloseHandle(inputRead);
        CloseHandle(inputWrite);
        return false;
    }
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    PROCESS_INFORMATION info = {};
    std::string command = "\"" + BinFolder() + "ModuleHolder.exe\" \"" + dllPath + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &info);
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (!started) {
        CloseHandle(inputWrite);
        CloseHandle(outputRead);
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    input = inputWrite;
    std::string said;
    char buffer[64];
    DWORD read = 0;
    while (said.find('\n') == std::string::npos &&
           ReadFile(outputRead, buffer, sizeof buffer, &read, nullptr) && read != 0)
        said.append(buffer, read);
    CloseHandle(outputRead);
    return said.rfind("ready", 0) == 0;
}

void ModuleHolder::Stop() {
    if (input) {
        CloseHandle(input);
        input = nullptr;
    }
    if (process) {
        if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
        CloseHandle(process);
        process = nullptr;
    }
}

void InstallerTest::SetUp() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    root = "C:\\bralimond-tests\\" + name;
    source = root + "\\source\\";
    base = root + "\\Program Files";
    product = "Camera Tools";
    productName = "BralimondTest_" + name;
    displayName = "Bralimond Test " + name + " Uninstall";
    logPath = root + "\\dpinst.log";

    TearDown();  // leftovers of an aborted run
    ASSERT_TRUE(CreateDirectoryA("C:\\bralimond-tests", nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(source.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((source + "driver").c_str(), nullptr));
    const std::string bin = BinFolder();
    for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e) {
        const std::string file = std::string(e->baseName) + e->extension;
        const bool driver = e->kind == DriverFile || e->kind == DriverInf;
        const std::string path = source + (driver ? "driver\\" : "") + file;
        if (file == "DPInst.exe") {
            ASSERT_TRUE(CopyFileA((bin + "DPInst.exe").c_str(), path.c_str(), FALSE));
        } else if (file == "BRALIMOND.dll" || file == "KOVALTIX.dll") {
            ASSERT_TRUE(CopyFileA((bin + "BRALIMOND.dll").c_str(), path.c_str(), FALSE));
        } else if (file == "Installer.ini") {
            ASSERT_TRUE(WriteFileText(path, "[Version]\r\nRelease=3\r\n"));
        } else {
            ASSERT_TRUE(WriteFileText(path, file + " from the source folder\r\n"));
        }
    }
    SetEnvironmentVariableA("DPINST_LOG", logPath.c_str());
    SetDriverInstallerExit(1);
    FillContext(true, true);
    OpenLastingHandles();
    handlesAtStart = OpenHandleCount();
    ASSERT_GE(handlesAtStart, 0);
}

void InstallerTest::TearDown() {
    DropModule();
    // Installer and Uninstaller, on whatever path the test took, leave no handle open (keys,
    // the driver installer's process and thread, the processes the in-use test opened).
    if (handlesAtStart >= 0) {
        EXPECT_EQ(handlesAtStart, OpenHandleCount()) << "kernel handles left open";
    }
    handlesAtStart = -1;
    SetEnvironmentVariableA("DPINST_LOG", nullptr);
    SetEnvironmentVariableA("DPINST_EXIT", nullptr);
    DeleteRegistryKey(UninstallKey());
    DeleteFileA(DesktopLink().c_str());
    RemoveTree(StartMenuFolder());
    DeleteFileA(SystemCopy().c_str());
    RemoveTree(root);
    RemoveDirectoryA("C:\\bralimond-tests");  // once the last test's folder is gone
}

void InstallerTest::FillContext(bool desktop, bool startMenu) {
    std::memset(&context, 0, sizeof context);
    context.module = module;
    std::strcpy(context.baseFolder, base.c_str());
    std::strcpy(context.parentFolder, parent.c_str());
    std::strcpy(context.productFolder, product.c_str());
    std::strcpy(context.productName, productName.c_str());
    std::strcpy(context.displayName, displayName.c_str());
    context.desktopShortcut = desktop ? 1 : 0;
    context.startMenuShortcut = startMenu ? 1 : 0;
}

bool InstallerTest::LoadSourceModule() {
    DropModule();
    module = LoadLibraryA((source + "BRALIMOND.dll").c_str());
    context.module = module;
    return module != nullptr;
}

bool InstallerTest::LoadInstalledModule() {
    return LoadModuleAt(InstallFolder() + "\\BRALIMOND.dll");
}

bool InstallerTest::LoadModuleAt(const std::string& path) {
    DropModule();
    module = LoadLibraryA(path.c_str());
    context.module = module;
    return module != nullptr;
}

void InstallerTest::DropModule() {
    if (module) FreeLibrary(module);
    module = nullptr;
    context.module = nullptr;
}

std::string InstallerTest::DesktopLink() const {
    return SpecialFolderPath(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\" + productName + ".lnk";
}

std::string InstallerTest::StartMenuFolder() const {
    return SpecialFolderPath(CSIDL_COMMON_PROGRAMS) + "\\" + product;
}

std::string InstallerTest::UninstallKey() const { return UninstallRoot + productName; }

std::string InstallerTest::Setting(const char* key) const {
    char value[64] = "";
    GetPrivateProfileStringA("Installer", key, "(absent)", value, sizeof value,
                             SettingsFile().c_str());
    return value;
}

void InstallerTest::SetDriverInstallerExit(int code) {
    SetEnvironmentVariableA("DPINST_EXIT", std::to_string(code).c_str());
}

std::vector<std::string> InstallerTest::DriverInstallerLog() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFileText(logPath));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

void InstallerTest::ClearDriverInstallerLog() const { DeleteFileA(logPath.c_str()); }

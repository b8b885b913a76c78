#include "tests/resources/LocaleChildren.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

const char* ReportVariable = "KOVALTIX_CHILD_REPORT";
const char* ArgumentVariable = "KOVALTIX_CHILD_ARGUMENT";

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : handle(handle) {}
    ~OwnedHandle() {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE Get() const { return handle; }

private:
    HANDLE handle;
};

std::string UnixToWindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// The loader's Unix path; it must also be its argv[0], from which it finds the rest of Wine.
std::string WineLoader() {
    char configured[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KOVALTIX_WINE_LOADER", configured, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return configured;
    for (const char* candidate :
         {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/lib/wine/wine", "/usr/bin/wine"}) {
        if (GetFileAttributesA(UnixToWindowsPath(candidate).c_str()) != INVALID_FILE_ATTRIBUTES)
            return candidate;
    }
    return std::string();
}

bool IsVariable(const char* entry, const char* name) {
    const size_t length = strlen(name);
    return _strnicmp(entry, name, length) == 0 && entry[length] == '=';
}

std::string ChildEnvironment(const LocaleRun& run, const std::string& reportPath) {
    std::string block;
    char* strings = GetEnvironmentStringsA();
    for (const char* s = strings; *s; s += strlen(s) + 1) {
        if (IsVariable(s, "LC_ALL") || IsVariable(s, ReportVariable) ||
            IsVariable(s, ArgumentVariable))
            continue;
        block.append(s).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
    block.append("LC_ALL=").append(run.Locale).push_back('\0');
    block.append(ReportVariable).append("=").append(reportPath).push_back('\0');
    block.append(ArgumentVariable).append("=").append(run.Argument).push_back('\0');
    block.push_back('\0');
    return block;
}

bool ReadReport(const std::string& path, std::string& text) {
    OwnedHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return false;
    text.clear();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
        text.append(chunk, got);
    return true;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool RunInLocales(std::vector<LocaleRun>& runs, const char* testName, std::string& error) {
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        error = "no program path";
        return false;
    }
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string loader = WineLoader();
    if (loader.empty()) {
        error = "Wine loader not found; set KOVALTIX_WINE_LOADER to its Unix path";
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    OwnedHandle quiet(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                  nullptr));

    std::vector<std::string> reports;
    for (size_t i = 0; i < runs.size(); ++i) {
        reports.push_back(std::string(folder) + "kovaltix-child-" +
                          std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i) + ".txt");
        DeleteFileA(reports.back().c_str());
        std::string environment = ChildEnvironment(runs[i], reports.back());
        std::string command = loader + " \"" + program +
                              "\" --gtest_also_run_disabled_tests --gtest_filter=" + testName;
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = quiet.Get();
        // The loader is a Unix process: Wine hands back no handle to wait on, so the reports are
        // polled.
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(UnixToWindowsPath(loader).c_str(), &command[0], nullptr, nullptr, TRUE,
                            0, &environment[0], nullptr, &startup, &process)) {
            error = "cannot start the child for " + runs[i].Locale;
            return false;
        }
        if (process.hThread) CloseHandle(process.hThread);
        if (process.hProcess) CloseHandle(process.hProcess);
    }
    const ULONGLONG deadline = GetTickCount64() + 120000;
    for (size_t i = 0; i < runs.size(); ++i) {
        // The renamed report may still be open in the child for a moment: retry until it reads.
        while (!ReadReport(reports[i], runs[i].Report) && GetTickCount64() < deadline) Sleep(50);
        runs[i].Reported = Exists(reports[i]);
        DeleteFileA(reports[i].c_str());
    }
    return true;
}

std::string ChildArgument() {
    const char* argument = getenv(ArgumentVariable);
    return argument ? argument : "";
}

bool WriteChildReport(const std::string& text) {
    const char* path = getenv(ReportVariable);
    if (!path) return false;
    // Written aside and renamed, so that the parent never reads half a report.
    const std::string part = std::string(path) + ".part";
    {
        std::ofstream out(part, std::ios::binary);
        out << text;
        if (!out) return false;
    }
    return MoveFileA(part.c_str(), path) != 0;
}

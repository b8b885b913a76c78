#include "tests/dllhostprogram/ProgramRunner.h"

#include "Common/Owners.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>

namespace {

std::string FolderOf(const std::string& commandLine) {
    std::string program = commandLine;
    if (!program.empty() && program[0] == '"') {
        program = program.substr(1, program.find('"', 1) - 1);
    } else {
        program = program.substr(0, program.find(' '));
    }
    size_t slash = program.find_last_of('\\');
    return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

}  // namespace

ProgramResult RunProgram(const std::string& commandLine) {
    ProgramResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    KernelHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherit, 0)) return result;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    FileHandle input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr));

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Get();
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const std::string folder = FolderOf(commandLine);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return result;
    KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writeEnd.Reset();  // so that the read ends when the program does

    // Polls rather than blocks, so that a program that hangs fails its test instead of the run.
    char buffer[4096];
    const DWORD deadline = GetTickCount() + 60000;
    bool ended = false;
    while (true) {
        DWORD available = 0, got = 0;
        if (!PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (available > 0) {
            if (!ReadFile(readEnd.Get(), buffer, sizeof(buffer), &got, nullptr)) break;
            result.output.append(buffer, got);
            continue;
        }
        if (ended) break;  // ended, and everything it wrote has been read
        ended = WaitForSingleObject(processHandle.Get(), 20) == WAIT_OBJECT_0;
        if (!ended && static_cast<LONG>(GetTickCount() - deadline) > 0) {
            TerminateProcess(processHandle.Get(), 255);
            WaitForSingleObject(processHandle.Get(), 5000);
            result.output += "\n(killed: still running after 60 s)";
            return result;
        }
    }
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'),
                        result.output.end());
    if (WaitForSingleObject(processHandle.Get(), 10000) != WAIT_OBJECT_0) return result;
    DWORD code = 0;
    if (GetExitCodeProcess(processHandle.Get(), &code)) result.exitCode = static_cast<int>(code);
    return result;
}

ProgramResult RunProgramInLocale(const std::string& locale, const std::string& program) {
    // Wine takes a process's locale from its Unix LC_ALL when it starts, which no Windows
    // environment block reaches: the Wine loader is started through a Unix shell that sets it.
    // Wine cannot wait for a Unix process, so the shell appends the exit code to the output.
    ProgramResult result;
    char folder[MAX_PATH] = "";
    char logPath[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, folder);
    if (GetTempFileNameA(folder, "run", 0, logPath) == 0) return result;
    const std::string unixProgram = UnixPath(program);
    const std::string unixLog = UnixPath(logPath);
    const std::string done = "ExitCode=";
    const std::string command =
        "LC_ALL=" + locale + " \\\"${WINELOADER:-/usr/lib/wine/wine64}\\\" '" + unixProgram +
        "' >'" + unixLog + "' 2>&1; echo " + done + "$? >>'" + unixLog + "'";
    if (!unixProgram.empty() && !unixLog.empty() && StartUnixCommand(command)) {
        for (int waited = 0; waited < 60000; waited += 100) {
            result.output = ReadTextFile(logPath);
            if (result.output.find(done) != std::string::npos) break;
            Sleep(100);
        }
    }
    DeleteFileA(logPath);
    const size_t end = result.output.find(done);
    if (end == std::string::npos) {
        result.output += "\n(no exit code from: " + command + ")";
        return result;
    }
    result.exitCode = std::atoi(result.output.c_str() + end + done.size());
    result.output.erase(end);
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'),
                        result.output.end());
    return result;
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CopyInto(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

std::string ReadTextFile(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool RegistryKeyExists(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool ReadRegistryDword(HKEY root, const std::string& path, const char* name, DWORD* value) {
    DWORD size = sizeof(*value);
    return RegGetValueA(root, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, value, &size) ==
           ERROR_SUCCESS;
}

std::string ReadRegistryString(HKEY root, const std::string& path, const char* name) {
    char text[1024];
    DWORD size = sizeof(text);
    if (RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return std::string();
    return text;
}

std::string SpecialFolder(int csidl) {
    char path[MAX_PATH] = "";
    if (!SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE)) return std::string();
    return path;
}

// Stand-in for the platform's driver package installer. It appends three lines
// to the file named by DPINST_LOG: its own file path, its command line and its
// current folder, then ends with the exit code given in DPINST_EXIT (default 1).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main() {
    char log[MAX_PATH];
    const DWORD logLength = GetEnvironmentVariableA("DPINST_LOG", log, MAX_PATH);
    if (logLength > 0 && logLength < MAX_PATH) {
        char self[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        char folder[MAX_PATH] = "";
        GetCurrentDirectoryA(MAX_PATH, folder);
        if (FILE* file = std::fopen(log, "ab")) {
            std::fprintf(file, "%s\n%s\n%s\n", self, GetCommandLineA(), folder);
            std::fclose(file);
        }
    }
    char code[32];
    const DWORD codeLength = GetEnvironmentVariableA("DPINST_EXIT", code, sizeof code);
    if (codeLength > 0 && codeLength < sizeof code)
        return static_cast<int>(std::strtol(code, nullptr, 10));
    return 1;
}

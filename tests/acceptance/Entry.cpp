#include "HostSupport.h"

#if defined(_MSC_VER)
// No C runtime: the entry point, the allocation operators and the two memory routines the
// compiler may call are the host's own (built with -fno-builtin, so they stay loops).
extern "C" void* __cdecl memset(void* to, int value, size_t size) {
    FillBytes(to, value, static_cast<unsigned>(size));
    return to;
}

extern "C" void* __cdecl memcpy(void* to, const void* from, size_t size) {
    unsigned char* t = static_cast<unsigned char*>(to);
    const unsigned char* f = static_cast<const unsigned char*>(from);
    for (size_t i = 0; i < size; ++i) t[i] = f[i];
    return to;
}

void* operator new(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void operator delete(void* p) noexcept {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

// The command line split at blanks outside double quotes, the program's name first.
int SplitCommandLine(char* line, char** argv, int most) {
    int argc = 0;
    while (*line && argc < most) {
        while (*line == ' ' || *line == '\t') ++line;
        if (!*line) break;
        char* out = line;
        argv[argc++] = out;
        bool quoted = false;
        for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line) {
            if (*line == '"')
                quoted = !quoted;
            else
                *out++ = *line;
        }
        if (*line) ++line;
        *out = '\0';
    }
    return argc;
}

}  // namespace

extern "C" void __cdecl HostEntry() {
    static char line[4096];
    CopyText(line, sizeof line, GetCommandLineA());
    char* argv[8];
    const int argc = SplitCommandLine(line, argv, 8);
    ExitProcess(static_cast<UINT>(RunAcceptance(argc, argv)));
}
#else
int main(int argc, char** argv) { return RunAcceptance(argc, argv); }
#endif

#include "HostSupport.h"

#include <commctrl.h>
#include <stdarg.h>

namespace {

int Passed = 0;
int Failed = 0;

// Appends to out[at..size-1], keeping room for the terminator.
void Put(char* out, unsigned size, unsigned& at, char c) {
    if (at + 1 < size) out[at++] = c;
}

void PutNumber(char* out, unsigned size, unsigned& at, unsigned long long value, unsigned base,
               bool negative) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0 && count < 24);
    if (negative) Put(out, size, at, '-');
    while (count > 0) Put(out, size, at, digits[--count]);
}

void FormatList(char* out, unsigned size, const char* format, va_list args) {
    unsigned at = 0;
    for (const char* f = format; *f; ++f) {
        if (*f != '%') {
            Put(out, size, at, *f);
            continue;
        }
        bool isLong = false;
        if (f[1] == 'l') {
            isLong = true;
            ++f;
        }
        switch (*++f) {
        case 's':
            for (const char* s = va_arg(args, const char*); s && *s; ++s) Put(out, size, at, *s);
            break;
        case 'd': {
            const long long v = isLong ? va_arg(args, long) : va_arg(args, int);
            PutNumber(out, size, at, v < 0 ? 0ull - static_cast<unsigned long long>(v) : v, 10,
                      v < 0);
            break;
        }
        case 'u':
            PutNumber(out, size, at, isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned),
                      10, false);
            break;
        case 'x':
            PutNumber(out, size, at, isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned),
                      16, false);
            break;
        case 'p':
            Put(out, size, at, '0');
            Put(out, size, at, 'x');
            PutNumber(out, size, at, reinterpret_cast<ULONG_PTR>(va_arg(args, void*)), 16, false);
            break;
        case '%':
            Put(out, size, at, '%');
            break;
        default:
            if (*f == '\0') --f;
            break;
        }
    }
    if (size > 0) out[at] = '\0';
}

void Write(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, TextLength(text, 0x7FFFFFFF), &written,
              nullptr);
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void Format(char* out, unsigned size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatList(out, size, format, args);
    va_end(args);
}

void Print(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    FormatList(text, sizeof text, format, args);
    va_end(args);
    Write(text);
}

void Expect(bool ok, const char* name, const char* detail, ...) {
    char text[1024];
    if (ok) {
        ++Passed;
        Format(text, sizeof text, "PASS %s\n", name);
    } else {
        ++Failed;
        char why[768];
        va_list args;
        va_start(args, detail);
        FormatList(why, sizeof why, detail, args);
        va_end(args);
        Format(text, sizeof text, "FAIL %s: %s\n", name, why[0] ? why : "false");
    }
    Write(text);
}

int Finish() {
    Print("acceptance done: %d passed, %d failed\n", Passed, Failed);
    return Failed == 0 ? 0 : 1;
}

void FillBytes(void* to, int value, unsigned size) {
    volatile unsigned char* bytes = static_cast<unsigned char*>(to);
    for (unsigned i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(value);
}

void CopyText(char* to, unsigned size, const char* text) { Format(to, size, "%s", text); }

bool TextEquals(const char* a, const char* b) { return lstrcmpA(a, b) == 0; }

unsigned TextLength(const char* text, unsigned size) {
    unsigned n = 0;
    while (n < size && text[n]) ++n;
    return n;
}

bool FileExists(const char* path) {
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const char* path) {
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveLeftovers(const char* folder) {
    char pattern[MAX_PATH], path[MAX_PATH];
    Format(pattern, sizeof pattern, "%s\\*", folder);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            Format(path, sizeof path, "%s\\%s", folder, entry.cFileName);
            DeleteFileA(path);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder);
    // The parent folder, which an uninstall never removes, when nothing else is in it.
    CopyText(path, sizeof path, folder);
    for (unsigned i = TextLength(path, sizeof path); i > 0; --i) {
        if (path[i - 1] == '\\') {
            path[i - 1] = '\0';
            RemoveDirectoryA(path);
            break;
        }
    }
}

HWND CreateHostWindow() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    if (!InitCommonControlsEx(&controls)) return nullptr;
    WNDCLASSA windowClass;
    FillBytes(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KovaltixAcceptanceHost";
    RegisterClassA(&windowClass);
    HWND window =
        CreateWindowExA(0, "KovaltixAcceptanceHost", "Acceptance", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        0, 0, 640, 480, nullptr, nullptr, windowClass.hInstance, nullptr);
    return window;
}

#if defined(_MSC_VER)
namespace {

// The import descriptors of this program.
IMAGE_IMPORT_DESCRIPTOR* ImportsOf(const char* dll, BYTE** baseOut) {
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    *baseOut = base;
    for (IMAGE_IMPORT_DESCRIPTOR* d =
             reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         d->Name != 0; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) == 0) return d;
    }
    return nullptr;
}

}  // namespace

KOVALTIX* ConstructThroughImport(void* memory) {
    BYTE* base = nullptr;
    IMAGE_IMPORT_DESCRIPTOR* d = ImportsOf("KOVALTIX.dll", &base);
    if (!d) return nullptr;
    IMAGE_THUNK_DATA* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        const char* name = reinterpret_cast<const char*>(
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
        // The MSVC name of a constructor of the class.
        if (name[0] == '?' && name[1] == '?' && name[2] == '0') {
            typedef KOVALTIX*(__thiscall * Constructor)(void*);
            return reinterpret_cast<Constructor>(slots->u1.Function)(memory);
        }
    }
    return nullptr;
}
#endif

#include "Installer/DLL/SetupSupport.h"

#include "Common/Owners.h"

#include <shlobj.h>
#include <cstring>

const char UninstallKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char SettingsSection[] = "Installer";
const char DesktopEntry[] = "DesctopShortCut";
const char StartMenuEntry[] = "StartMenuShortCut";

namespace {

template <std::size_t N>
const char* TerminatedText(const char (&field)[N]) {
    return ::memchr(field, '\0', N) != nullptr ? field : nullptr;
}

// The long, absolute form of a folder, without a trailing separator.
bool CanonicalFolder(const char* path, char (&out)[MAX_PATH]) {
    char full[MAX_PATH];
    const DWORD fullLength = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (fullLength == 0 || fullLength >= MAX_PATH) return false;
    const DWORD longLength = GetLongPathNameA(full, out, MAX_PATH);
    if (longLength == 0 || longLength >= MAX_PATH) std::memcpy(out, full, fullLength + 1);
    std::size_t length = std::strlen(out);
    while (length > 3 && (out[length - 1] == '\\' || out[length - 1] == '/')) out[--length] = '\0';
    return true;
}

}  // namespace

bool ReadContextTexts(const InstallContext& context, ContextTexts& texts) {
    texts.baseFolder = TerminatedText(context.baseFolder);
    texts.parentFolder = PlainName(context.parentFolder);
    texts.productFolder = PlainName(context.productFolder);
    texts.productName = PlainName(context.productName);
    // Also the uninstall shortcut's file name, which must stay in the product's Start-menu folder.
    texts.displayName = PlainName(context.displayName);
    return texts.baseFolder && texts.parentFolder && texts.productFolder && texts.productName &&
           texts.displayName;
}

const char* PlainName(const char* field, std::size_t size) {
    const char* end = static_cast<const char*>(::memchr(field, '\0', size));
    if (end == nullptr || end == field || std::strcmp(field, ".") == 0 ||
        std::strcmp(field, "..") == 0)
        return nullptr;
    return FindCharacter(field, "\\/:") == nullptr ? field : nullptr;
}

const char* FindCharacter(const char* text, const char* characters) {
    for (const char* c = text; *c != '\0'; ++c) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1] != '\0') {
            ++c;
            continue;
        }
        if (std::strchr(characters, *c) != nullptr) return c;
    }
    return nullptr;
}

bool EntryNamesFolder(const char* productName, const char* folder) {
    PathText key(UninstallKeyPath);
    key.Append("\\");
    key.Append(productName);
    RegistryKey entry;
    if (!key.ok() || RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE,
                                   entry.Receive()) != ERROR_SUCCESS)
        return false;
    char command[2 * MAX_PATH];
    DWORD type = REG_NONE;
    DWORD size = sizeof command - 1;
    if (RegQueryValueExA(entry.Get(), "UninstallString", nullptr, &type,
                         reinterpret_cast<BYTE*>(command), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    command[size] = '\0';
    // "<setup program>" /uninstall, or the same unquoted.
    char* program = command;
    if (program[0] == '"') {
        ++program;
        char* close = std::strchr(program, '"');
        if (close == nullptr) return false;
        *close = '\0';
    } else {
        const char suffix[] = " /uninstall";
        const std::size_t length = std::strlen(program);
        if (length > sizeof suffix - 1 &&
            std::strcmp(program + length - (sizeof suffix - 1), suffix) == 0)
            program[length - (sizeof suffix - 1)] = '\0';
    }
    PathText programFolder;
    return DriveAndFolder(program, programFolder) && !programFolder.empty() &&
           SameFolder(programFolder.c_str(), folder);
}

bool InstallationFolder(const ContextTexts& texts, PathText& out) {
    out.Clear();
    out.Append(texts.baseFolder);
    out.Append("\\");
    out.Append(texts.parentFolder);
    out.Append("\\");
    out.Append(texts.productFolder);
    return out.ok();
}

bool ModuleFolder(HMODULE module, PathText& out) {
    char file[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, file, MAX_PATH);
    // A full buffer means the name was cut short.
    if (length == 0 || length >= MAX_PATH) return false;
    return DriveAndFolder(file, out);
}

bool SystemDirectory(PathText& out) {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    out.Clear();
    return length != 0 && length < MAX_PATH && out.Append(folder);
}

bool SpecialFolder(HWND owner, int csidl, PathText& out) {
    char folder[MAX_PATH] = "";
    out.Clear();
    return SHGetSpecialFolderPathA(owner, folder, csidl, FALSE) && out.Append(folder);
}

bool SameFolder(const char* a, const char* b) {
    char canonicalA[MAX_PATH];
    char canonicalB[MAX_PATH];
    if (!CanonicalFolder(a, canonicalA) || !CanonicalFolder(b, canonicalB)) return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, canonicalA, -1, canonicalB, -1) ==
           CSTR_EQUAL;
}

bool RunAndWait(const char* application, char* commandLine, DWORD& exitCode) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return false;
    const KernelHandle process(started.hProcess);
    const KernelHandle thread(started.hThread);
    WaitForSingleObject(process.Get(), INFINITE);
    return GetExitCodeProcess(process.Get(), &exitCode) != FALSE;
}

// MERSIVO.exe: the setup program. Loads the installer library from its own folder and calls
// Installer, or Uninstaller when started with /uninstall (the registered uninstall command).
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Common/Owners.h"
#include "Installer/DLL/BRALIMOND.h"
#include "Installer/DLL/InstallManifest.h"
#include "Installer/DLL/SetupSupport.h"

namespace {

enum ExitStatus { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitNoLibrary = 3 };

// The folders and names an install used, kept in the installed settings file so that the plain
// "/uninstall" command finds the same installation, Start-menu folder and Uninstall entry.
const char NamesSection[] = "Setup";

std::string SettingsFileName() {
    const ManifestEntry* entry = FindManifestEntry(SettingsFile);
    return std::string(entry->baseName) + entry->extension;
}

struct Options {
    std::string baseFolder;
    std::string parentFolder = "Kovaltix";
    std::string productFolder = "Kovaltix Camera";
    std::string productName = "Kovaltix Camera";
    std::string displayName = "Uninstall Kovaltix Camera";
    bool desktopShortcut = true;
    bool startMenuShortcut = true;
    bool uninstall = false;
};

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: MERSIVO [/base <folder>] [/parent <name>] [/product <name>]\n"
                 "               [/name <product name>] [/display <display name>]\n"
                 "               [/desktop 0|1] [/startmenu 0|1]\n"
                 "       MERSIVO /uninstall   (from the installation folder)\n"
                 "Installs from the folder of MERSIVO.exe into <base>\\<parent>\\<product>.\n");
}

std::string OwnFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string folder(path, length);
    const size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

std::string ProfileString(const std::string& file, const char* key, const std::string& fallback) {
    char value[MAX_PATH];
    GetPrivateProfileStringA(NamesSection, key, fallback.c_str(), value, sizeof(value),
                             file.c_str());
    return value;
}

void ReadRecordedNames(const std::string& settings, Options* options) {
    options->baseFolder = ProfileString(settings, "BaseFolder", options->baseFolder);
    options->parentFolder = ProfileString(settings, "ParentFolder", options->parentFolder);
    options->productFolder = ProfileString(settings, "ProductFolder", options->productFolder);
    options->productName = ProfileString(settings, "ProductName", options->productName);
    options->displayName = ProfileString(settings, "DisplayName", options->displayName);
}

void RecordNames(const std::string& settings, const Options& options) {
    WritePrivateProfileStringA(NamesSection, "BaseFolder", options.baseFolder.c_str(),
                               settings.c_str());
    WritePrivateProfileStringA(NamesSection, "ParentFolder", options.parentFolder.c_str(),
                               settings.c_str());
    WritePrivateProfileStringA(NamesSection, "ProductFolder", options.productFolder.c_str(),
                               settings.c_str());
    WritePrivateProfileStringA(NamesSection, "ProductName", options.productName.c_str(),
                               settings.c_str());
    WritePrivateProfileStringA(NamesSection, "DisplayName", options.displayName.c_str(),
                               settings.c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, settings.c_str());  // flush
}

bool ParseFlag(const char* text, bool* flag) {
    if (std::strcmp(text, "0") == 0)
        *flag = false;
    else if (std::strcmp(text, "1") == 0)
        *flag = true;
    else
        return false;
    return true;
}

bool ParseArguments(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (lstrcmpiA(option, "/uninstall") == 0) {
            options->uninstall = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "Unknown option or missing value: %s\n", option);
            return false;
        }
        const char* value = argv[++i];
        if (lstrcmpiA(option, "/base") == 0)
            options->baseFolder = value;
        else if (lstrcmpiA(option, "/parent") == 0)
            options->parentFolder = value;
        else if (lstrcmpiA(option, "/product") == 0)
            options->productFolder = value;
        else if (lstrcmpiA(option, "/name") == 0)
            options->productName = value;
        else if (lstrcmpiA(option, "/display") == 0)
            options->displayName = value;
        else if (lstrcmpiA(option, "/desktop") == 0) {
            if (!ParseFlag(value, &options->desktopShortcut)) {
                std::fprintf(stderr, "/desktop takes 0 or 1, not \"%s\"\n", value);
                return false;
            }
        } else if (lstrcmpiA(option, "/startmenu") == 0) {
            if (!ParseFlag(value, &options->startMenuShortcut)) {
                std::fprintf(stderr, "/startmenu takes 0 or 1, not \"%s\"\n", value);
                return false;
            }
        } else {
            std::fprintf(stderr, "Unknown option: %s\n", option);
            return false;
        }
    }
    return true;
}

// Copies text into a fixed field; refuses what does not fit rather than cutting it.
template <size_t N>
bool Fill(char (&field)[N], const std::string& text, const char* what) {
    if (text.size() >= N) {
        std::fprintf(stderr, "The %s is too long (at most %u characters).\n", what,
                     static_cast<unsigned>(N - 1));
        return false;
    }
    std::memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

// A name becomes one folder, key or shortcut below others: empty or separator-laden names would
// make the uninstall remove a whole shared folder or key. The library's rule, read as it reads
// names; and none of the characters a file name can't hold, which would stop an install halfway.
bool IsPlainName(const std::string& name, const char* what) {
    if (PlainName(name.c_str(), name.size() + 1) == nullptr ||
        FindCharacter(name.c_str(), "*?\"<>|") != nullptr) {
        std::fprintf(stderr, "The %s \"%s\" is not a plain, non-empty name.\n", what, name.c_str());
        return false;
    }
    return true;
}

bool FillContext(const Options& options, InstallContext* context) {
    std::memset(context, 0, sizeof(*context));
    context->module = GetModuleHandleA(nullptr);
    context->ownerWindow = nullptr;
    if (!options.uninstall) {
        if (!IsPlainName(options.parentFolder, "parent folder")) return false;
        if (options.baseFolder.empty()) {
            std::fprintf(stderr, "No base folder.\n");
            return false;
        }
        const size_t installFolder = options.baseFolder.size() + 1 + options.parentFolder.size() +
                                     1 + options.productFolder.size();
        if (installFolder + LongestInstalledTail() > MAX_PATH) {
            std::fprintf(stderr,
                         "The installation folder is too long for its files (%u "
                         "characters; at most %u).\n",
                         static_cast<unsigned>(installFolder),
                         static_cast<unsigned>(MAX_PATH - LongestInstalledTail()));
            return false;
        }
    }
    if (!IsPlainName(options.productFolder, "product folder") ||
        !IsPlainName(options.productName, "product name") ||
        !IsPlainName(options.displayName, "display name"))
        return false;
    if (!Fill(context->baseFolder, options.baseFolder, "base folder") ||
        !Fill(context->parentFolder, options.parentFolder, "parent folder") ||
        !Fill(context->productFolder, options.productFolder, "product folder") ||
        !Fill(context->productName, options.productName, "product name") ||
        !Fill(context->displayName, options.displayName, "display name"))
        return false;
    context->desktopShortcut = options.desktopShortcut ? 1 : 0;
    context->startMenuShortcut = options.startMenuShortcut ? 1 : 0;
    return true;
}

// An uninstall cannot delete the files it runs from: this program and its library. Windows
// installers leave those, and the folder they keep, to the next restart. Only when nothing else
// is left: a folder the library kept (one it could not confirm) holds more, and stays whole.
bool RemoveAtRestart(const std::string& folder) {
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const char* selfName = std::strrchr(self, '\\') ? std::strrchr(self, '\\') + 1 : self;
    std::vector<std::string> left;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        if (lstrcmpiA(name.c_str(), selfName) != 0 &&
            lstrcmpiA(name.c_str(), "BRALIMOND.dll") != 0) {
            FindClose(search);
            return false;
        }
        left.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    bool scheduled = true;
    for (const std::string& name : left)
        scheduled &=
            MoveFileExA((folder + name).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    const std::string path = folder.substr(0, folder.size() - 1);
    return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0 && scheduled;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/?") == 0 || lstrcmpiA(argv[i], "/help") == 0) {
            PrintUsage();
            return ExitOk;
        }
    }
    Options options;
    const std::string folder = OwnFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "Cannot find the setup program's own folder.\n");
        return ExitFailed;
    }
    // Program files of the machine unless told otherwise.
    char programFiles[MAX_PATH] = "";
    if (SHGetSpecialFolderPathA(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE))
        options.baseFolder = programFiles;
    // Names recorded by the install this copy belongs to (absent in a fresh source folder).
    ReadRecordedNames(folder + SettingsFileName(), &options);
    if (!ParseArguments(argc, argv, &options)) {
        PrintUsage();
        return ExitUsage;
    }
    InstallContext context;
    if (!FillContext(options, &context)) return ExitUsage;

    // Our own folder only: never whatever the search path would find first.
    const Library library(LoadLibraryA((folder + "BRALIMOND.dll").c_str()));
    if (!library.Get()) {
        std::fprintf(stderr, "Cannot load %sBRALIMOND.dll.\n", folder.c_str());
        return ExitNoLibrary;
    }
    typedef bool (*Export)(const InstallContext*);
    const char* exportName = options.uninstall ? "Uninstaller" : "Installer";
    Export run = reinterpret_cast<Export>(GetProcAddress(library.Get(), exportName));
    if (!run) {
        std::fprintf(stderr, "BRALIMOND.dll has no export %s.\n", exportName);
        return ExitNoLibrary;
    }

    if (options.uninstall) {
        // The library removes the folder it is called from; say so plainly when that is not
        // the installation this copy belongs to.
        const std::string expected =
            options.baseFolder + "\\" + options.parentFolder + "\\" + options.productFolder + "\\";
        if (!SameFolder(expected.c_str(), folder.c_str())) {
            std::fprintf(stderr,
                         "/uninstall runs from the installation folder (%s), not from %s.\n",
                         expected.c_str(), folder.c_str());
            return ExitUsage;
        }
        std::printf("Uninstalling %s from %s\n", options.productName.c_str(), folder.c_str());
        std::fflush(stdout);
        if (!run(&context)) {
            std::fprintf(stderr, "The uninstall did not complete.\n");
            return ExitFailed;
        }
        std::printf("Uninstalled.\n");
        if (RemoveAtRestart(folder))
            std::printf("%s and the files still in use go at the next restart.\n", folder.c_str());
        return ExitOk;
    }

    const std::string installFolder =
        options.baseFolder + "\\" + options.parentFolder + "\\" + options.productFolder;
    std::printf("Installing %s from %s into %s\n", options.productName.c_str(), folder.c_str(),
                installFolder.c_str());
    std::fflush(stdout);
    const bool installed = run(&context);
    // Whatever got installed must stay removable by the plain uninstall command.
    const std::string installedSettings = installFolder + "\\" + SettingsFileName();
    if (GetFileAttributesA(installedSettings.c_str()) != INVALID_FILE_ATTRIBUTES)
        RecordNames(installedSettings, options);
    if (!installed) {
        std::fprintf(stderr, "The installation did not complete.\n");
        return ExitFailed;
    }
    std::printf("Installed.\n");
    return ExitOk;
}

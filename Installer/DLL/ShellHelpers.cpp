#include "Installer/DLL/ShellHelpers.h"

#include "Common/Owners.h"
#include "Installer/DLL/Paths.h"

#include <objbase.h>
#include <objidl.h>
#include <psapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <cstring>

namespace {

const CLSID ClsidShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IidShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IidPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// What tells one file from another, however a path spells it: letter case, a short name, or
// the 32-bit system folder a 32-bit process is redirected to all name the same volume and index.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity& o) const {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
};

bool IdentifyFile(const char* path, FileIdentity& id) {
    // No access asked for, and every kind shared: a loaded or busy file still opens.
    const FileHandle file(CreateFileA(path, 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.Get(), &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
    return true;
}

}  // namespace

bool CreateShortcut(const char* target, const char* name, const char* description, HWND owner,
                    int csidl, const char* subfolder, const char* arguments,
                    const char* workingDirectory, int showCommand, const char* iconPath,
                    int iconIndex) {
    if (name == nullptr || target == nullptr) return false;

    PathText folder;
    if (csidl == -1) {
        if (subfolder == nullptr || !folder.Append(subfolder)) return false;
    } else {
        char special[MAX_PATH] = "";
        if (!SHGetSpecialFolderPathA(owner, special, csidl, TRUE)) return false;
        folder.Append(special);
        folder.Append("\\");
        if (subfolder != nullptr) folder.Append(subfolder);
        if (!folder.ok()) return false;
    }
    // Refuse an over-long link path before anything is created.
    PathText linkPath(folder.c_str());
    linkPath.Append("\\");
    linkPath.Append(name);
    linkPath.Append(".lnk");
    if (!linkPath.ok()) return false;

    PathText targetFolder;
    if (workingDirectory == nullptr) {
        if (!DriveAndFolder(target, targetFolder)) return false;
        targetFolder.DropLast();
        workingDirectory = targetFolder.c_str();
    }
    if (description == nullptr) description = name;

    if (!CreateFolderTree(folder.c_str())) return false;

    const ComApartment com(SUCCEEDED(CoInitialize(nullptr)));
    if (!com) return false;
    ComPtr<IShellLinkA> link;
    if (FAILED(CoCreateInstance(ClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, IidShellLinkA,
                                reinterpret_cast<void**>(link.Receive()))))
        return false;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IidPersistFile, reinterpret_cast<void**>(file.Receive()))))
        return false;

    link->SetPath(target);
    link->SetDescription(description);
    link->SetArguments(arguments);
    link->SetWorkingDirectory(workingDirectory);
    link->SetIconLocation(iconPath, iconIndex);
    link->SetShowCmd(showCommand);

    wchar_t widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH) == 0) return false;
    return SUCCEEDED(file->Save(widePath, TRUE));
}

bool IsModuleLoaded(const char* path) {
    // A file that can't be opened is not loaded anywhere.
    FileIdentity wanted;
    if (path == nullptr || !IdentifyFile(path, wanted)) return false;
    DWORD processes[1024];
    DWORD processBytes = 0;
    if (!EnumProcesses(processes, sizeof processes, &processBytes)) return false;
    const DWORD processCount = processBytes / sizeof processes[0];
    for (DWORD p = 0; p < processCount; ++p) {
        const KernelHandle process(
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processes[p]));
        if (!process) continue;
        HMODULE modules[1024];
        DWORD moduleBytes = 0;
        if (!EnumProcessModules(process.Get(), modules, sizeof modules, &moduleBytes)) continue;
        DWORD moduleCount = moduleBytes / sizeof modules[0];
        if (moduleCount > 1024) moduleCount = 1024;
        for (DWORD m = 0; m < moduleCount; ++m) {
            char name[MAX_PATH];
            FileIdentity loaded;
            if (GetModuleFileNameExA(process.Get(), modules[m], name, MAX_PATH) != 0 &&
                IdentifyFile(name, loaded) && loaded == wanted)
                return true;
        }
    }
    return false;
}

bool CreateFolderTree(const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    if (IsFolder(path)) return true;
    PathText parent;
    if (!DriveAndFolder(path, parent)) return false;
    // Without a separator no parent is left to create: the tree ends here.
    if (!parent.DropLast() || parent.empty()) return false;
    if (!CreateFolderTree(parent.c_str())) return false;
    if (CreateDirectoryA(path, nullptr)) return true;
    // A trailing separator names the parent just made.
    return GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(path);
}

bool RemoveFolderTree(const char* path) {
    if (path == nullptr) return false;
    // A junction or symbolic link is removed itself, never followed: what it leads to is not
    // part of the tree.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return RemoveDirectoryA(path) != FALSE;
    PathText pattern(path);
    if (!pattern.Append("\\*.*")) return false;

    bool result = true;
    WIN32_FIND_DATAA entry;
    {
        const FindHandle search(FindFirstFileA(pattern.c_str(), &entry));
        if (!search) return true;
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            PathText file(path);
            file.Append("\\");
            if (!file.Append(entry.cFileName)) {
                result = false;
                continue;
            }
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileA(file.c_str()) && GetLastError() != 0) result = false;
        } while (FindNextFileA(search.Get(), &entry));
    }
    {
        const FindHandle search(FindFirstFileA(pattern.c_str(), &entry));
        if (search) {
            do {
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                    IsDotEntry(entry.cFileName))
                    continue;
                PathText child(path);
                child.Append("\\");
                if (!child.Append(entry.cFileName) || !RemoveFolderTree(child.c_str()))
                    result = false;
            } while (FindNextFileA(search.Get(), &entry));
        }
    }
    if (!RemoveDirectoryA(path)) result = false;
    return result;
}

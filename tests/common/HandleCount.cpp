#include "tests/common/HandleCount.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace {

// The system handle table's layout (SystemHandleInformation, class 16).
struct HandleEntry {
    USHORT UniqueProcessId;
    USHORT CreatorBackTraceIndex;
    UCHAR ObjectTypeIndex;
    UCHAR HandleAttributes;
    USHORT HandleValue;
    PVOID Object;
    ULONG GrantedAccess;
};
struct HandleTable {
    ULONG NumberOfHandles;
    HandleEntry Handles[1];
};

const ULONG SystemHandleInformation = 16;
const LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

}  // namespace

int OpenHandleCount() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    if (query == nullptr) return -1;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(SystemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == StatusInfoLengthMismatch) {
            buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
            continue;
        }
        if (status < 0) return -1;
        break;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
    int count = 0;
    for (ULONG i = 0; i < table->NumberOfHandles; ++i)
        if (table->Handles[i].UniqueProcessId == self) ++count;
    return count;
}

void OpenLastingHandles() {
    // GoogleTest's per-thread trace stack, made (with its lock) on first use.
    {
        SCOPED_TRACE("lasting handles");
    }
    // The window station and desktop, which a process opens on its first window call, and the
    // directory of named objects, on its first named object.
    RegisterWindowMessageA("OpenLastingHandles");
    CloseHandle(CreateMutexA(nullptr, FALSE, "OpenLastingHandles"));
    // The mouse settings user32 reads on the first mouse input, and the debug-output lock.
    int mouse[3] = {};
    SystemParametersInfoA(SPI_GETMOUSE, 0, mouse, 0);
    GetDoubleClickTime();
    OutputDebugStringA("");
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT}) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, "Software", 0, KEY_READ, &key) == ERROR_SUCCESS) RegCloseKey(key);
    }
}

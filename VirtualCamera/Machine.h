#pragma once
// The user-mode model's one machine, shared by its parts: handles, blocks and counters
// (VirtualCamera.cpp), host controllers and hubs (UsbTree.cpp), the camera's driver and capture
// interfaces (CameraDriver.cpp), the standard camera and its registry keys (StandardCamera.cpp).
// Not for tests: they use VirtualCamera.h.
#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "VirtualCamera/VirtualCamera.h"
#include "VirtualCamera/hardware/UsbHardware.h"

namespace vcam {
namespace detail {

struct HandleInfo {
    enum Kind { ControllerHandle, HubHandle, InterfaceHandle, ListHandle } kind;
    int id;            // controller number, hub id or interface index
    int plugging = 0;  // an interface's: how often it had been put back when this was opened
};

// A capture interface, and whether its device is plugged in.
struct InterfaceEntry : CaptureInterface {
    bool pulled = false;
    int plugging = 0;  // how often it was put back
};

struct BlockRecord {
    void* base;  // what VirtualAlloc or GlobalAlloc returned
    SIZE_T size;
    bool guarded;
};

// The hardware itself is the shared model (hardware/UsbHardware.h), which the kernel bus driver
// answers through too; what lies around it here (handles, blocks, fault counters, the request
// log, the camera's driver) belongs to the user-mode model alone.
struct Machine {
    std::mutex lock;
    Scene scene;

    std::map<ULONG_PTR, HandleInfo> handles;
    ULONG_PTR nextHandle = 0x5000;
    std::map<const void*, BlockRecord> blocks;
    bool guarded = true;
    int badReleases = 0;
    int protocolErrors = 0;

    int counts[static_cast<int>(Request::Count)] = {};
    int failAt[static_cast<int>(Request::Count)] = {};
    int allocations = 0;
    int allocFailAt = 0;

    std::vector<InterfaceEntry> interfaces;
    bool classDevsFails = false;

    std::vector<XuRecord> xuLog;
    bool xuSucceed = true;
    long xuBytes = -1;
    DWORD xuError = ERROR_GEN_FAILURE;
    VusbCameraState camera = {};
    unsigned holdMicroseconds = 0;
    int inFlight = 0;
    int overlaps = 0;
};

// Constructed on first use, so the demo library's global constructor may call in at any time.
Machine& M();

// Runs f on the machine under its lock.
template <typename F>
auto Locked(F f) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    return f(m);
}

// Counts a request of that kind; true when it is the one FailNth chose.
bool Hit(Machine& m, Request request);
bool EqualNoCase(const std::string& a, const std::string& b);
HANDLE NewHandle(Machine& m, HandleInfo::Kind kind, int id, int plugging = 0);
HandleInfo* FindHandle(Machine& m, HANDLE handle, HandleInfo::Kind kind);
// Sets the last error, clears *returned, and gives FALSE.
BOOL Fail(DWORD error, DWORD* returned);

// Host controllers and hubs (UsbTree.cpp), under the machine lock: names "\\.\HCDn" and
// "\\.\<hub name>".
HANDLE OpenUsbNode(Machine& m, const std::string& name, DWORD access);
BOOL UsbNodeRequest(Machine& m, const HandleInfo& node, DWORD code, void* in, DWORD inSize,
                    void* out, DWORD outSize, DWORD* returned);

// Capture interfaces and the camera's driver (CameraDriver.cpp). OpenInterface runs under the
// machine lock; InterfaceRequest takes it itself, so that a request can stay "in flight".
HANDLE OpenInterface(Machine& m, const std::string& path, DWORD access);
BOOL InterfaceRequest(const HandleInfo& handle, DWORD code, void* in, DWORD inSize, void* out,
                      DWORD outSize, DWORD* returned);

// The Settings key path below HKLM of the driver instance behind a device instance ID, as its
// "Driver" value names it; "" when there is none (StandardCamera.cpp).
std::string SettingsPathOf(const std::string& instanceId);

}  // namespace detail
}  // namespace vcam

#include "VirtualCamera/VirtualCamera.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "DLL/camera/DeviceLayer.h"
#include "VirtualCamera/Machine.h"

namespace {
const SIZE_T PageSize = 4096;
}  // namespace

namespace vcam {
namespace detail {

Machine& M() {
    static Machine* machine = new Machine;
    return *machine;
}

bool Hit(Machine& m, Request request) {
    int i = static_cast<int>(request);
    ++m.counts[i];
    return m.failAt[i] != 0 && m.counts[i] == m.failAt[i];
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

HANDLE NewHandle(Machine& m, HandleInfo::Kind kind, int id, int plugging) {
    ULONG_PTR value = m.nextHandle;
    m.nextHandle += 4;
    m.handles[value] = HandleInfo{kind, id, plugging};
    return reinterpret_cast<HANDLE>(value);
}

HandleInfo* FindHandle(Machine& m, HANDLE handle, HandleInfo::Kind kind) {
    auto it = m.handles.find(reinterpret_cast<ULONG_PTR>(handle));
    if (it == m.handles.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

BOOL Fail(DWORD error, DWORD* returned) {
    if (returned) *returned = 0;
    SetLastError(error);
    return FALSE;
}

}  // namespace detail

using namespace detail;

// ---- Machine ---------------------------------------------------------------------------------

void Reset() {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.scene = Scene();
    m.handles.clear();
    m.blocks.clear();  // blocks still held are the caller's leak; forgetting them keeps tests apart
    m.badReleases = 0;
    m.protocolErrors = 0;
    std::fill(std::begin(m.counts), std::end(m.counts), 0);
    std::fill(std::begin(m.failAt), std::end(m.failAt), 0);
    m.allocations = 0;
    m.allocFailAt = 0;
    m.interfaces.clear();
    m.classDevsFails = false;
    m.xuLog.clear();
    m.xuSucceed = true;
    m.xuBytes = -1;
    m.xuError = ERROR_GEN_FAILURE;
    m.camera = VusbCameraState{};
    m.holdMicroseconds = 0;
    m.inFlight = 0;
    m.overlaps = 0;
}

void FailNth(Request request, int nth) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    int i = static_cast<int>(request);
    if (i < 0 || i >= static_cast<int>(Request::Count)) return;
    m.failAt[i] = nth > 0 ? m.counts[i] + nth : 0;
}

int RequestCount(Request request) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    int i = static_cast<int>(request);
    return i >= 0 && i < static_cast<int>(Request::Count) ? m.counts[i] : 0;
}

void FailNthAllocation(int nth) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.allocFailAt = nth > 0 ? m.allocations + nth : 0;
}

// ---- Accounting ------------------------------------------------------------------------------

int OpenHandles() {
    return Locked([](Machine& m) { return static_cast<int>(m.handles.size()); });
}

int LiveBlocks() {
    return Locked([](Machine& m) { return static_cast<int>(m.blocks.size()); });
}

int BadReleases() {
    return Locked([](Machine& m) { return m.badReleases; });
}

int ProtocolErrors() {
    return Locked([](Machine& m) { return m.protocolErrors; });
}

std::string Describe() {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    char text[160];
    std::snprintf(text, sizeof text,
                  "open handles %d, live blocks %d, bad releases %d, protocol errors %d",
                  static_cast<int>(m.handles.size()), static_cast<int>(m.blocks.size()),
                  m.badReleases, m.protocolErrors);
    return text;
}

void SetGuardedBlocks(bool guarded) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.guarded = guarded;
}

}  // namespace vcam

// ---- The device layer over the model: handles and blocks -------------------------------------

namespace DeviceLayer {
using namespace vcam::detail;

HANDLE OpenDevice(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string name = path;
    if (disposition != OPEN_EXISTING) ++m.protocolErrors;
    if (name.size() > 4 && name.compare(0, 4, "\\\\.\\") == 0) return OpenUsbNode(m, name, access);
    return OpenInterface(m, name, access);
}

BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
               DWORD* returned) {
    Machine& m = M();
    HandleInfo handle;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        auto it = m.handles.find(reinterpret_cast<ULONG_PTR>(device));
        if (it == m.handles.end() || it->second.kind == HandleInfo::ListHandle) {
            ++m.protocolErrors;
            return Fail(ERROR_INVALID_HANDLE, returned);
        }
        handle = it->second;
        if (handle.kind != HandleInfo::InterfaceHandle)
            return UsbNodeRequest(m, handle, code, in, inSize, out, outSize, returned);
    }
    return InterfaceRequest(handle, code, in, inSize, out, outSize, returned);
}

BOOL CloseDevice(HANDLE device) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.handles.find(reinterpret_cast<ULONG_PTR>(device));
    if (it == m.handles.end() || it->second.kind == HandleInfo::ListHandle) {
        ++m.badReleases;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    m.handles.erase(it);
    return TRUE;
}

void* AllocBlock(SIZE_T size) {
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    ++m.allocations;
    if (m.allocFailAt != 0 && m.allocations == m.allocFailAt) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!m.guarded) {
        void* block = GlobalAlloc(GPTR, size);
        if (block) m.blocks[block] = BlockRecord{block, size, false};
        return block;
    }
    if (size > (SIZE_T(1) << 30)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    SIZE_T body = (size + PageSize - 1) / PageSize * PageSize;
    BYTE* base = static_cast<BYTE*>(
        VirtualAlloc(nullptr, body + PageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base) return nullptr;
    DWORD old;
    VirtualProtect(base + body, PageSize, PAGE_NOACCESS, &old);
    void* block = base + body - size;
    m.blocks[block] = BlockRecord{base, size, true};
    return block;
}

void FreeBlock(void* block) {
    if (!block) return;
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.blocks.find(block);
    if (it == m.blocks.end()) {
        ++m.badReleases;
        return;
    }
    if (it->second.guarded)
        VirtualFree(it->second.base, 0, MEM_RELEASE);
    else
        GlobalFree(it->second.base);
    m.blocks.erase(it);
}

SIZE_T BlockSize(const void* block) {
    if (!block) return 0;
    Machine& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.blocks.find(block);
    return it == m.blocks.end() ? 0 : it->second.size;
}

}  // namespace DeviceLayer

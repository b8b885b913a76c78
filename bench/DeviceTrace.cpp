#include "bench/DeviceTrace.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

#include "DLL/camera/DeviceLayer.h"

// The linker sends every call of DeviceLayer::X to the Wrap function and gives the original the
// Real name (x86_64 names: the bench is built for the 64-bit programs only).
#define DEVICE_LAYER(name) __asm__(name)

HANDLE RealOpenDevice(const char*, DWORD, DWORD, DWORD, DWORD)
    DEVICE_LAYER("__real__ZN11DeviceLayer10OpenDeviceEPKcmmmm");
BOOL RealIoControl(HANDLE, DWORD, void*, DWORD, void*, DWORD, DWORD*)
    DEVICE_LAYER("__real__ZN11DeviceLayer9IoControlEPvmS0_mS0_mPm");
BOOL RealCloseDevice(HANDLE) DEVICE_LAYER("__real__ZN11DeviceLayer11CloseDeviceEPv");
HDEVINFO RealGetClassDevs(const GUID*, DWORD)
    DEVICE_LAYER("__real__ZN11DeviceLayer12GetClassDevsEPK5_GUIDm");
BOOL RealEnumDeviceInterfaces(HDEVINFO, const GUID*, DWORD, SP_DEVICE_INTERFACE_DATA*) DEVICE_LAYER(
    "__real__ZN11DeviceLayer20EnumDeviceInterfacesEPvPK5_GUIDmP25_SP_DEVICE_INTERFACE_DATA");
BOOL RealGetDeviceInterfaceDetail(HDEVINFO, SP_DEVICE_INTERFACE_DATA*,
                                  SP_DEVICE_INTERFACE_DETAIL_DATA_A*, DWORD, DWORD*)
    DEVICE_LAYER(
        "__real__ZN11DeviceLayer24GetDeviceInterfaceDetailEPvP25_SP_DEVICE_INTERFACE_"
        "DATAP34_SP_DEVICE_INTERFACE_DETAIL_DATA_AmPm");
BOOL RealDestroyDeviceInfoList(HDEVINFO)
    DEVICE_LAYER("__real__ZN11DeviceLayer21DestroyDeviceInfoListEPv");
void* RealAllocBlock(SIZE_T) DEVICE_LAYER("__real__ZN11DeviceLayer10AllocBlockEy");
void RealFreeBlock(void*) DEVICE_LAYER("__real__ZN11DeviceLayer9FreeBlockEPv");
SIZE_T RealBlockSize(const void*) DEVICE_LAYER("__real__ZN11DeviceLayer9BlockSizeEPKv");

namespace DeviceTrace {
namespace {

struct Recorder {
    bool on = false;
    std::vector<Event> events;
    std::map<HANDLE, int> handles;  // open handle or list -> its Open or ClassDevs event
    std::map<std::uintptr_t, std::pair<int, SIZE_T>> blocks;  // start -> Alloc event, size
};

Recorder& R() {
    static Recorder recorder;
    return recorder;
}

int HandleEvent(HANDLE handle) {
    auto it = R().handles.find(handle);
    return it == R().handles.end() ? -1 : it->second;
}

// The block a pointer lies in, and where in it.
int BlockOf(const void* pointer, std::size_t* offset) {
    auto& blocks = R().blocks;
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(pointer);
    auto it = blocks.upper_bound(at);
    if (pointer == nullptr || it == blocks.begin()) return -1;
    --it;
    if (at >= it->first + (it->second.second ? it->second.second : 1)) return -1;
    *offset = at - it->first;
    return it->second.first;
}

Event& Add(Call call) {
    R().events.emplace_back();
    R().events.back().call = call;
    return R().events.back();
}

int LastIndex() { return static_cast<int>(R().events.size()) - 1; }

}  // namespace

void Start() {
    Recorder& r = R();
    r.events.clear();
    r.handles.clear();
    r.blocks.clear();
    r.on = true;
}

std::vector<Event> Stop() {
    R().on = false;
    return std::move(R().events);
}

Replay::Replay(std::vector<Event> events)
    : events(std::move(events)),
      scratch(this->events.size()),
      handles(this->events.size(), INVALID_HANDLE_VALUE),
      blocks(this->events.size(), nullptr),
      interfaceData() {
    // Room for whatever the call may write back into a buffer of its own.
    for (std::size_t i = 0; i < this->events.size(); ++i) {
        const Event& e = this->events[i];
        scratch[i] = e.input;
        const std::size_t room = e.call == Call::IoControl ? e.arg[2] : 0;
        scratch[i].resize(std::max<std::size_t>({scratch[i].size(), room, 1}));
    }
}

void* Replay::Address(int block, std::size_t offset, std::vector<BYTE>& scratch) {
    if (block >= 0) return blocks[block] ? static_cast<BYTE*>(blocks[block]) + offset : nullptr;
    return scratch.data();
}

void Replay::Play(std::size_t index) {
    const Event& e = events[index];
    HANDLE handle = e.object >= 0 ? handles[e.object] : e.rawHandle;
    switch (e.call) {
    case Call::Open:
        handles[index] =
            DeviceLayer::OpenDevice(e.path.c_str(), e.arg[0], e.arg[1], e.arg[2], e.arg[3]);
        break;
    case Call::IoControl: {
        void* in = e.hasIn ? Address(e.inBlock, e.inOffset, scratch[index]) : nullptr;
        // The request goes out with the bytes the library had put there.
        if (in && e.inBlock >= 0 && !e.input.empty())
            std::memcpy(in, e.input.data(), e.input.size());
        void* out = e.hasOut ? Address(e.outBlock, e.outOffset, scratch[index]) : nullptr;
        DWORD returned = 0;
        DeviceLayer::IoControl(handle, e.arg[0], in, e.arg[1], out, e.arg[2],
                               e.hasReturned ? &returned : nullptr);
        break;
    }
    case Call::Close:
        DeviceLayer::CloseDevice(handle);
        break;
    case Call::ClassDevs:
        handles[index] = DeviceLayer::GetClassDevs(&e.guid, e.arg[0]);
        break;
    case Call::EnumInterface:
        interfaceData = SP_DEVICE_INTERFACE_DATA();
        interfaceData.cbSize = sizeof interfaceData;
        DeviceLayer::EnumDeviceInterfaces(handle, &e.guid, e.arg[0], &interfaceData);
        break;
    case Call::InterfaceDetail: {
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(
            e.hasIn ? Address(e.inBlock, e.inOffset, scratch[index]) : nullptr);
        if (detail && e.input.size() == sizeof(DWORD))
            std::memcpy(&detail->cbSize, e.input.data(), sizeof(DWORD));
        DWORD required = 0;
        DeviceLayer::GetDeviceInterfaceDetail(handle, &interfaceData, detail, e.arg[0],
                                              e.hasReturned ? &required : nullptr);
        break;
    }
    case Call::DestroyList:
        DeviceLayer::DestroyDeviceInfoList(handle);
        break;
    case Call::Alloc:
        blocks[index] = DeviceLayer::AllocBlock(e.size);
        break;
    case Call::Free:
        DeviceLayer::FreeBlock(e.object >= 0 ? blocks[e.object] : nullptr);
        break;
    case Call::Size:
        DeviceLayer::BlockSize(e.object >= 0 ? blocks[e.object] : nullptr);
        break;
    }
}

}  // namespace DeviceTrace

// ---- The forwarding step -----------------------------------------------------------------------

using namespace DeviceTrace;

HANDLE WrapOpenDevice(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
    DEVICE_LAYER("__wrap__ZN11DeviceLayer10OpenDeviceEPKcmmmm");
HANDLE WrapOpenDevice(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    HANDLE handle = RealOpenDevice(path, access, share, disposition, flags);
    if (!R().on) return handle;
    Event& e = Add(Call::Open);
    e.path = path ? path : "";
    e.arg[0] = access;
    e.arg[1] = share;
    e.arg[2] = disposition;
    e.arg[3] = flags;
    if (handle != INVALID_HANDLE_VALUE) R().handles[handle] = LastIndex();
    return handle;
}

BOOL WrapIoControl(HANDLE, DWORD, void*, DWORD, void*, DWORD, DWORD*)
    DEVICE_LAYER("__wrap__ZN11DeviceLayer9IoControlEPvmS0_mS0_mPm");
BOOL WrapIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned) {
    if (!R().on) return RealIoControl(device, code, in, inSize, out, outSize, returned);
    Event& e = Add(Call::IoControl);
    e.object = HandleEvent(device);
    e.rawHandle = device;
    e.arg[0] = code;
    e.arg[1] = inSize;
    e.arg[2] = outSize;
    e.hasIn = in != nullptr;
    e.hasOut = out != nullptr;
    e.hasReturned = returned != nullptr;
    if (in) {
        e.inBlock = BlockOf(in, &e.inOffset);
        e.input.assign(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + inSize);
    }
    if (out) e.outBlock = BlockOf(out, &e.outOffset);
    return RealIoControl(device, code, in, inSize, out, outSize, returned);
}

BOOL WrapCloseDevice(HANDLE) DEVICE_LAYER("__wrap__ZN11DeviceLayer11CloseDeviceEPv");
BOOL WrapCloseDevice(HANDLE device) {
    if (R().on) {
        Event& e = Add(Call::Close);
        e.object = HandleEvent(device);
        e.rawHandle = device;
        R().handles.erase(device);
    }
    return RealCloseDevice(device);
}

HDEVINFO WrapGetClassDevs(const GUID*, DWORD)
    DEVICE_LAYER("__wrap__ZN11DeviceLayer12GetClassDevsEPK5_GUIDm");
HDEVINFO WrapGetClassDevs(const GUID* interfaceClass, DWORD flags) {
    HDEVINFO list = RealGetClassDevs(interfaceClass, flags);
    if (!R().on) return list;
    Event& e = Add(Call::ClassDevs);
    e.arg[0] = flags;
    if (interfaceClass) e.guid = *interfaceClass;
    if (list != INVALID_HANDLE_VALUE) R().handles[list] = LastIndex();
    return list;
}

BOOL WrapEnumDeviceInterfaces(HDEVINFO, const GUID*, DWORD, SP_DEVICE_INTERFACE_DATA*) DEVICE_LAYER(
    "__wrap__ZN11DeviceLayer20EnumDeviceInterfacesEPvPK5_GUIDmP25_SP_DEVICE_INTERFACE_DATA");
BOOL WrapEnumDeviceInterfaces(HDEVINFO list, const GUID* interfaceClass, DWORD index,
                              SP_DEVICE_INTERFACE_DATA* data) {
    if (R().on) {
        Event& e = Add(Call::EnumInterface);
        e.object = HandleEvent(list);
        e.rawHandle = list;
        e.arg[0] = index;
        if (interfaceClass) e.guid = *interfaceClass;
    }
    return RealEnumDeviceInterfaces(list, interfaceClass, index, data);
}

BOOL WrapGetDeviceInterfaceDetail(HDEVINFO, SP_DEVICE_INTERFACE_DATA*,
                                  SP_DEVICE_INTERFACE_DETAIL_DATA_A*, DWORD, DWORD*)
    DEVICE_LAYER(
        "__wrap__ZN11DeviceLayer24GetDeviceInterfaceDetailEPvP25_SP_DEVICE_INTERFACE_"
        "DATAP34_SP_DEVICE_INTERFACE_DETAIL_DATA_AmPm");
BOOL WrapGetDeviceInterfaceDetail(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* data,
                                  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                                  DWORD* requiredSize) {
    if (R().on) {
        Event& e = Add(Call::InterfaceDetail);
        e.object = HandleEvent(list);
        e.rawHandle = list;
        e.arg[0] = detailSize;
        e.hasIn = detail != nullptr;
        e.hasReturned = requiredSize != nullptr;
        if (detail) {
            e.inBlock = BlockOf(detail, &e.inOffset);
            e.input.resize(sizeof(DWORD));
            std::memcpy(e.input.data(), &detail->cbSize, sizeof(DWORD));
        }
    }
    return RealGetDeviceInterfaceDetail(list, data, detail, detailSize, requiredSize);
}

BOOL WrapDestroyDeviceInfoList(HDEVINFO)
    DEVICE_LAYER("__wrap__ZN11DeviceLayer21DestroyDeviceInfoListEPv");
BOOL WrapDestroyDeviceInfoList(HDEVINFO list) {
    if (R().on) {
        Event& e = Add(Call::DestroyList);
        e.object = HandleEvent(list);
        e.rawHandle = list;
        R().handles.erase(list);
    }
    return RealDestroyDeviceInfoList(list);
}

void* WrapAllocBlock(SIZE_T) DEVICE_LAYER("__wrap__ZN11DeviceLayer10AllocBlockEy");
void* WrapAllocBlock(SIZE_T size) {
    void* block = RealAllocBlock(size);
    if (!R().on) return block;
    Event& e = Add(Call::Alloc);
    e.size = size;
    if (block) R().blocks[reinterpret_cast<std::uintptr_t>(block)] = {LastIndex(), size};
    return block;
}

void WrapFreeBlock(void*) DEVICE_LAYER("__wrap__ZN11DeviceLayer9FreeBlockEPv");
void WrapFreeBlock(void* block) {
    if (R().on) {
        Event& e = Add(Call::Free);
        std::size_t offset = 0;
        e.object = BlockOf(block, &offset);
        R().blocks.erase(reinterpret_cast<std::uintptr_t>(block));
    }
    RealFreeBlock(block);
}

SIZE_T WrapBlockSize(const void*) DEVICE_LAYER("__wrap__ZN11DeviceLayer9BlockSizeEPKv");
SIZE_T WrapBlockSize(const void* block) {
    if (R().on) {
        Event& e = Add(Call::Size);
        std::size_t offset = 0;
        e.object = BlockOf(block, &offset);
    }
    return RealBlockSize(block);
}

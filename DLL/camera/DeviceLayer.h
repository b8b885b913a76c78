#pragma once
// The one narrow door to USB host controllers, hubs and the camera's kernel driver.
// The shipped library links DLL/camera/platform (the real calls); tests and the demo
// link the virtual camera, which implements the same functions as a model of the hardware.
#include <windows.h>
#include <setupapi.h>

#include "Common/Scoped.h"

namespace DeviceLayer {

// CreateFileA on a device name or interface path.
HANDLE OpenDevice(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
               DWORD* returned);
BOOL CloseDevice(HANDLE device);

HDEVINFO GetClassDevs(const GUID* interfaceClass, DWORD flags);
BOOL EnumDeviceInterfaces(HDEVINFO list, const GUID* interfaceClass, DWORD index,
                          SP_DEVICE_INTERFACE_DATA* data);
BOOL GetDeviceInterfaceDetail(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* data,
                              SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                              DWORD* requiredSize);
BOOL DestroyDeviceInfoList(HDEVINFO list);

// Zero-filled fixed blocks (GlobalAlloc GPTR); BlockSize is the allocated size.
void* AllocBlock(SIZE_T size);
void FreeBlock(void* block);
SIZE_T BlockSize(const void* block);

// Owners of what the layer hands out.
struct DeviceTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value device) { CloseDevice(device); }
};
using Device = Scoped<DeviceTraits>;

struct DeviceListTraits {
    using Value = HDEVINFO;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value list) { DestroyDeviceInfoList(list); }
};
using DeviceList = Scoped<DeviceListTraits>;

struct BlockTraits {
    using Value = void*;
    static Value Invalid() { return nullptr; }
    static void Close(Value block) { FreeBlock(block); }
};
using Block = Scoped<BlockTraits>;
inline BYTE* Bytes(const Block& block) { return static_cast<BYTE*>(block.Get()); }

}  // namespace DeviceLayer

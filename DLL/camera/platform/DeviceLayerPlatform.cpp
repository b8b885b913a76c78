#include "DLL/camera/DeviceLayer.h"

namespace DeviceLayer {

HANDLE OpenDevice(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
               DWORD* returned) {
    return DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr);
}

BOOL CloseDevice(HANDLE device) { return CloseHandle(device); }

HDEVINFO GetClassDevs(const GUID* interfaceClass, DWORD flags) {
    return SetupDiGetClassDevsA(interfaceClass, nullptr, nullptr, flags);
}

BOOL EnumDeviceInterfaces(HDEVINFO list, const GUID* interfaceClass, DWORD index,
                          SP_DEVICE_INTERFACE_DATA* data) {
    return SetupDiEnumDeviceInterfaces(list, nullptr, interfaceClass, index, data);
}

BOOL GetDeviceInterfaceDetail(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* data,
                              SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                              DWORD* requiredSize) {
    return SetupDiGetDeviceInterfaceDetailA(list, data, detail, detailSize, requiredSize, nullptr);
}

BOOL DestroyDeviceInfoList(HDEVINFO list) { return SetupDiDestroyDeviceInfoList(list); }

void* AllocBlock(SIZE_T size) { return GlobalAlloc(GPTR, size); }
void FreeBlock(void* block) {
    if (block) GlobalFree(block);
}
SIZE_T BlockSize(const void* block) { return block ? GlobalSize(const_cast<void*>(block)) : 0; }

}  // namespace DeviceLayer

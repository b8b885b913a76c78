#pragma once
// Identifiers of the camera shared by the locator, the channel and start-up.
#include <windows.h>

constexpr unsigned short CameraVendorId = 0x2F3A;
// Every product of the family carries 0x18 in the high byte of idProduct.
constexpr unsigned short CameraProductFirst = 0x1800;
constexpr unsigned short CameraProductLast = 0x18FF;
constexpr unsigned short CameraProductMask = 0xFF00;

// The video capture interface the camera driver registers: {65E8773D-8F56-11D0-A3B9-00A0C9223196}.
constexpr GUID KsCategoryCapture = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// The camera driver's private extension-unit request: device type 0x22, function 0x801,
// buffered, any access.
constexpr DWORD XuControlIoctl = 0x222004;
static_assert(XuControlIoctl == ((0x22u << 16) | (0u << 14) | (0x801u << 2) | 0u),
              "XuControlIoctl encoding");

// The interface number start-up asks for; 256 and above mean "a device not split into functions".
constexpr unsigned short CameraInterfaceNumber = 0;

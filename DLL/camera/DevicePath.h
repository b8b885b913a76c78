#pragma once
// Capture-interface device paths, over text: no platform calls, so it builds anywhere.
#include <cstddef>
#include <cstdint>
#include <string>

// "\\?\USB#Vid_vvvv&Pid_pppp&MI_ii#..." at the fixed offsets, letters in any case, each number
// read as far as its hexadecimal digits reach and compared with the whole argument. An
// interface number of 256 or more asks for a device not split into functions (no "&MI_").
// Reads nothing at or past `length`.
bool MatchDevicePath(const char* path, std::size_t length, std::uint16_t vendorId,
                     std::uint16_t productId, std::uint16_t interfaceNumber);

// "\\?\usb#vid_..&pid_..&mi_00#instance#{class}\global" -> "usb\vid_..&pid_..&mi_00\instance":
// the device instance ID behind an interface path. False when a '#' it needs is missing.
bool DeviceInstanceId(const char* path, std::size_t length, std::string* id);

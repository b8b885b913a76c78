#pragma once
// Finds the camera on the USB bus and reads its configuration descriptor set.
#include <windows.h>

#include "DLL/camera/DeviceLayer.h"

// On true *connectionInfo is the camera port's ConnectionInfoBlock and *descriptors its
// DescriptorBlock (none when fetching it failed). On false both are none. Whatever the owners
// held before is released first.
bool FindCamera(DeviceLayer::Block* connectionInfo, DeviceLayer::Block* descriptors);

// True when the set holds a processing unit (bControlSize >= 2) inside the video-control
// interface; *powerLineFlag is then 1 when it offers the power-line frequency control, else 0.
// Reads nothing outside the block (DeviceLayer::BlockSize) nor past wTotalLength; a read that
// would gives false.
bool ScanProcessingUnit(const void* descriptorBlock, DWORD* powerLineFlag);

namespace CameraLocator {

// Hubs below a root hub are followed at most this deep (USB itself allows five); deeper links
// are passed over, so a malformed topology (a hub naming itself or an ancestor) cannot recurse
// without end.
constexpr int MaxHubDepth = 6;

// Internal routines, visible for tests. Texts come back in blocks of their own.
DeviceLayer::Block NarrowString(const WCHAR* text);
DeviceLayer::Block QueryRootHubName(HANDLE controller);
DeviceLayer::Block QueryDownstreamHubName(HANDLE hub, ULONG port);
DeviceLayer::Block FetchConfigurationDescriptor(HANDLE hub, ULONG port, UCHAR descriptorIndex);

}  // namespace CameraLocator

#pragma once
// Finds the camera on the USB bus and reads its configuration descriptor set.
#include <windows.h>

// On true *connectionInfo is the camera port's ConnectionInfoBlock and *descriptors its
// DescriptorBlock (null when fetching it failed). On false both are null. The caller frees each
// with DeviceLayer::FreeBlock.
bool FindCamera(void** connectionInfo, void** descriptors);

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

// Internal routines, visible for tests. Text results are blocks of their own (FreeBlock).
char* NarrowString(const WCHAR* text);
char* QueryRootHubName(HANDLE controller);
char* QueryDownstreamHubName(HANDLE hub, ULONG port);
void* FetchConfigurationDescriptor(HANDLE hub, ULONG port, UCHAR descriptorIndex);

}  // namespace CameraLocator

#pragma once
// Byte layouts exchanged with the USB hub drivers and the camera driver. Little-endian, packed.
#include <windows.h>
#include <cstddef>
#include <cstring>

#include "Common/LittleEndian.h"

// Hub driver requests (buffered).
constexpr DWORD IoctlUsbGetRootHubName = 0x220408;      // sent to a host controller
constexpr DWORD IoctlUsbGetNodeInformation = 0x220408;  // sent to a hub
constexpr DWORD IoctlUsbGetNodeConnectionInformation = 0x22040C;
constexpr DWORD IoctlUsbGetDescriptorFromNodeConnection = 0x220410;
constexpr DWORD IoctlUsbGetNodeConnectionName = 0x220414;
constexpr DWORD IoctlUsbGetNodeConnectionInformationEx = 0x220448;

#pragma pack(push, 1)

// Reply of IoctlUsbGetRootHubName; the first request offers only the head.
struct RootHubNameHead {
    ULONG ActualLength;  // size of the block the full reply needs
    WCHAR RootHubName[1];
};
static_assert(offsetof(RootHubNameHead, ActualLength) == 0, "ActualLength");
static_assert(offsetof(RootHubNameHead, RootHubName) == 4, "RootHubName");
static_assert(sizeof(RootHubNameHead) == 6, "first root hub name request");
constexpr DWORD RootHubNameHeadSize = 6;
constexpr DWORD RootHubNameOffset = 4;

// Request and reply of IoctlUsbGetNodeConnectionName.
struct NodeConnectionNameHead {
    ULONG ConnectionIndex;
    ULONG ActualLength;
    WCHAR NodeName[1];
};
static_assert(offsetof(NodeConnectionNameHead, ConnectionIndex) == 0, "ConnectionIndex");
static_assert(offsetof(NodeConnectionNameHead, ActualLength) == 4, "ActualLength");
static_assert(offsetof(NodeConnectionNameHead, NodeName) == 8, "NodeName");
static_assert(sizeof(NodeConnectionNameHead) == 10, "first connection name request");
constexpr DWORD NodeConnectionNameHeadSize = 10;
constexpr DWORD NodeConnectionNameOffset = 8;

// Reply of IoctlUsbGetNodeInformation: node type, then the hub descriptor from byte 4.
struct NodeInformationBlock {
    ULONG NodeType;
    UCHAR bDescriptorLength;
    UCHAR bDescriptorType;
    UCHAR bNumberOfPorts;
    UCHAR rest[69];
};
static_assert(offsetof(NodeInformationBlock, bDescriptorLength) == 4, "hub descriptor");
static_assert(offsetof(NodeInformationBlock, bNumberOfPorts) == 6, "bNumberOfPorts");
static_assert(sizeof(NodeInformationBlock) == 76, "node information");

// The standard USB device descriptor.
struct UsbDeviceDescriptor {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdUSB;
    UCHAR bDeviceClass;
    UCHAR bDeviceSubClass;
    UCHAR bDeviceProtocol;
    UCHAR bMaxPacketSize0;
    USHORT idVendor;
    USHORT idProduct;
    USHORT bcdDevice;
    UCHAR iManufacturer;
    UCHAR iProduct;
    UCHAR iSerialNumber;
    UCHAR bNumConfigurations;
};
static_assert(offsetof(UsbDeviceDescriptor, idVendor) == 8, "idVendor");
static_assert(offsetof(UsbDeviceDescriptor, idProduct) == 10, "idProduct");
static_assert(sizeof(UsbDeviceDescriptor) == 18, "device descriptor");

// Per-port connection information (newer request; the older one shares these offsets):
// a 35-byte fixed part and room for 30 pipes of 11 bytes.
struct ConnectionInfoBlock {
    ULONG ConnectionIndex;
    UsbDeviceDescriptor DeviceDescriptor;
    UCHAR CurrentConfigurationValue;
    UCHAR Speed;
    UCHAR DeviceIsHub;
    USHORT DeviceAddress;
    ULONG NumberOfOpenPipes;
    ULONG ConnectionStatus;
    UCHAR PipeList[30 * 11];
};
static_assert(offsetof(ConnectionInfoBlock, ConnectionIndex) == 0, "ConnectionIndex");
static_assert(offsetof(ConnectionInfoBlock, DeviceDescriptor) == 4, "DeviceDescriptor");
static_assert(offsetof(ConnectionInfoBlock, DeviceDescriptor.idVendor) == 12, "idVendor");
static_assert(offsetof(ConnectionInfoBlock, DeviceDescriptor.idProduct) == 14, "idProduct");
static_assert(offsetof(ConnectionInfoBlock, DeviceIsHub) == 24, "DeviceIsHub");
static_assert(offsetof(ConnectionInfoBlock, ConnectionStatus) == 31, "ConnectionStatus");
static_assert(offsetof(ConnectionInfoBlock, PipeList) == 35, "fixed part");
static_assert(sizeof(ConnectionInfoBlock) == 365, "connection information block");
constexpr DWORD ConnectionInfoBlockSize = sizeof(ConnectionInfoBlock);

// Request head of IoctlUsbGetDescriptorFromNodeConnection; the descriptor bytes follow.
struct DescriptorRequestHead {
    ULONG ConnectionIndex;
    UCHAR bmRequest;
    UCHAR bRequest;
    USHORT wValue;
    USHORT wIndex;
    USHORT wLength;
};
static_assert(offsetof(DescriptorRequestHead, ConnectionIndex) == 0, "ConnectionIndex");
static_assert(offsetof(DescriptorRequestHead, bmRequest) == 4, "bmRequest");
static_assert(offsetof(DescriptorRequestHead, bRequest) == 5, "bRequest");
static_assert(offsetof(DescriptorRequestHead, wValue) == 6, "wValue");
static_assert(offsetof(DescriptorRequestHead, wIndex) == 8, "wIndex");
static_assert(offsetof(DescriptorRequestHead, wLength) == 10, "wLength");
static_assert(sizeof(DescriptorRequestHead) == 12, "descriptor request head");

// The standard configuration descriptor (the first 9 data bytes of a DescriptorBlock).
struct UsbConfigurationDescriptor {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT wTotalLength;
    UCHAR bNumInterfaces;
    UCHAR bConfigurationValue;
    UCHAR iConfiguration;
    UCHAR bmAttributes;
    UCHAR MaxPower;
};
static_assert(offsetof(UsbConfigurationDescriptor, wTotalLength) == 2, "wTotalLength");
static_assert(sizeof(UsbConfigurationDescriptor) == 9, "configuration descriptor");

// A descriptor request followed by the configuration descriptor set (wTotalLength bytes).
struct DescriptorBlock {
    DescriptorRequestHead Head;
    UsbConfigurationDescriptor Configuration;
};
static_assert(offsetof(DescriptorBlock, Configuration) == 12, "descriptor data");
static_assert(offsetof(DescriptorBlock, Configuration.wTotalLength) == 14, "wTotalLength");
static_assert(sizeof(DescriptorBlock) == 21, "first descriptor fetch");
constexpr DWORD DescriptorDataOffset = 12;
constexpr USHORT ConfigurationDescriptorType = 2;

// Input of XuControlIoctl. Data is at least two bytes; a read and a write without data send 10.
struct XuControlRequest {
    UCHAR Direction;  // 0 read, 1 write
    UCHAR RequestCode;
    USHORT Selector;
    USHORT DataLength;
    USHORT ControlValue;
    UCHAR Data[2];
};
static_assert(offsetof(XuControlRequest, Direction) == 0, "Direction");
static_assert(offsetof(XuControlRequest, RequestCode) == 1, "RequestCode");
static_assert(offsetof(XuControlRequest, Selector) == 2, "Selector");
static_assert(offsetof(XuControlRequest, DataLength) == 4, "DataLength");
static_assert(offsetof(XuControlRequest, ControlValue) == 6, "ControlValue");
static_assert(offsetof(XuControlRequest, Data) == 8, "Data");
static_assert(sizeof(XuControlRequest) == 10, "smallest request");
constexpr DWORD XuControlHeaderSize = 8;
constexpr UCHAR XuDirectionRead = 0;
constexpr UCHAR XuDirectionWrite = 1;

#pragma pack(pop)

// Fields of a ConnectionInfoBlock without assuming the block's alignment.
inline USHORT ConnectionVendorId(const void* connectionInfo) {
    return ReadLe16(static_cast<const BYTE*>(connectionInfo) +
                    offsetof(ConnectionInfoBlock, DeviceDescriptor.idVendor));
}
inline USHORT ConnectionProductId(const void* connectionInfo) {
    return ReadLe16(static_cast<const BYTE*>(connectionInfo) +
                    offsetof(ConnectionInfoBlock, DeviceDescriptor.idProduct));
}

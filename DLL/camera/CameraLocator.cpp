#include "DLL/camera/CameraLocator.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Common/LittleEndian.h"
#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DescriptorScan.h"
#include "DLL/camera/HubReply.h"
#include "DLL/camera/UsbLayouts.h"

using DeviceLayer::Block;
using DeviceLayer::Bytes;
using DeviceLayer::Device;

namespace {

Device OpenHubDevice(const char* name) {
    return Device(DeviceLayer::OpenDevice(name, GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING, 0));
}

Block NarrowReplyName(const Block& reply, SIZE_T offset) {
    std::size_t units = 0;
    if (!FindReplyName(Bytes(reply), DeviceLayer::BlockSize(reply.Get()), offset, &units))
        return Block();
    std::wstring name(units, L'\0');
    for (std::size_t i = 0; i < units; ++i)
        name[i] = static_cast<WCHAR>(ReadLe16(Bytes(reply) + offset + 2 * i));
    return CameraLocator::NarrowString(name.c_str());
}

bool IsCamera(const BYTE* info) {
    return info[offsetof(ConnectionInfoBlock, DeviceIsHub)] == 0 &&
           ReadLe32(info + offsetof(ConnectionInfoBlock, ConnectionStatus)) != 0 &&
           ConnectionVendorId(info) == CameraVendorId &&
           (ConnectionProductId(info) & CameraProductMask) == CameraProductFirst;
}

// Zero-fills a connection-information block and sets the port it asks about.
void AskAboutPort(BYTE* block, ULONG port) {
    std::memset(block, 0, ConnectionInfoBlockSize);
    WriteLe32(block + offsetof(ConnectionInfoBlock, ConnectionIndex), port);
}

bool SearchHub(Block hubName, int depth, Block* connectionInfo, Block* descriptors);

bool SearchHubPorts(HANDLE hub, ULONG portCount, int depth, Block* connectionInfo,
                    Block* descriptors) {
    Block info(DeviceLayer::AllocBlock(ConnectionInfoBlockSize));
    Block older(DeviceLayer::AllocBlock(ConnectionInfoBlockSize));
    if (!info || !older) return false;
    BYTE* block = Bytes(info);
    for (ULONG port = 1; port <= portCount; ++port) {
        AskAboutPort(block, port);
        DWORD returned = 0;
        if (!DeviceLayer::IoControl(hub, IoctlUsbGetNodeConnectionInformationEx, block,
                                    ConnectionInfoBlockSize, block, ConnectionInfoBlockSize,
                                    &returned)) {
            BYTE* old = Bytes(older);
            AskAboutPort(old, port);
            if (!DeviceLayer::IoControl(hub, IoctlUsbGetNodeConnectionInformation, old,
                                        ConnectionInfoBlockSize, old, ConnectionInfoBlockSize,
                                        &returned))
                continue;
            const SIZE_T descriptorAt = offsetof(ConnectionInfoBlock, DeviceDescriptor);
            const SIZE_T hubAt = offsetof(ConnectionInfoBlock, DeviceIsHub);
            const SIZE_T statusAt = offsetof(ConnectionInfoBlock, ConnectionStatus);
            std::memcpy(block + descriptorAt, old + descriptorAt, sizeof(UsbDeviceDescriptor));
            block[hubAt] = old[hubAt];
            std::memcpy(block + statusAt, old + statusAt, sizeof(ULONG));
        }
        if (block[offsetof(ConnectionInfoBlock, DeviceIsHub)] != 0) {
            if (depth >= CameraLocator::MaxHubDepth) continue;
            Block name = CameraLocator::QueryDownstreamHubName(hub, port);
            if (name && SearchHub(std::move(name), depth + 1, connectionInfo, descriptors))
                return true;
            continue;
        }
        if (IsCamera(block)) {
            *descriptors = CameraLocator::FetchConfigurationDescriptor(hub, port, 0);
            *connectionInfo = std::move(info);
            return true;
        }
    }
    return false;
}

// depth 0 is a root hub.
bool SearchHub(Block hubName, int depth, Block* connectionInfo, Block* descriptors) {
    Block node(DeviceLayer::AllocBlock(sizeof(NodeInformationBlock)));
    if (!hubName || !node) return false;
    const char* name = reinterpret_cast<const char*>(Bytes(hubName));
    const SIZE_T length = std::strlen(name);
    Device hub;
    {
        Block deviceName(DeviceLayer::AllocBlock(length + 5));
        if (!deviceName) return false;
        std::memcpy(Bytes(deviceName), "\\\\.\\", 4);
        std::memcpy(Bytes(deviceName) + 4, name, length + 1);
        hub = OpenHubDevice(reinterpret_cast<const char*>(Bytes(deviceName)));
    }
    if (!hub) return false;
    DWORD returned = 0;
    if (!DeviceLayer::IoControl(hub.Get(), IoctlUsbGetNodeInformation, Bytes(node),
                                sizeof(NodeInformationBlock), Bytes(node),
                                sizeof(NodeInformationBlock), &returned))
        return false;
    const ULONG ports = Bytes(node)[offsetof(NodeInformationBlock, bNumberOfPorts)];
    return ports > 0 && SearchHubPorts(hub.Get(), ports, depth, connectionInfo, descriptors);
}

}  // namespace

namespace CameraLocator {

Block NarrowString(const WCHAR* text) {
    if (!text) return Block();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return Block();
    Block block(DeviceLayer::AllocBlock(size));
    if (!block || WideCharToMultiByte(CP_ACP, 0, text, -1, reinterpret_cast<char*>(Bytes(block)),
                                      size, nullptr, nullptr) <= 0)
        return Block();
    return block;
}

Block QueryRootHubName(HANDLE controller) {
    DWORD returned = 0;
    ULONG actual;
    {
        Block head(DeviceLayer::AllocBlock(RootHubNameHeadSize));
        if (!head || !DeviceLayer::IoControl(controller, IoctlUsbGetRootHubName, nullptr, 0,
                                             Bytes(head), RootHubNameHeadSize, &returned))
            return Block();
        actual = ReadLe32(Bytes(head) + offsetof(RootHubNameHead, ActualLength));
    }
    // Room for at least the terminator, or the reply cannot hold a name.
    if (actual < RootHubNameHeadSize) return Block();
    Block reply(DeviceLayer::AllocBlock(actual));
    if (!reply || !DeviceLayer::IoControl(controller, IoctlUsbGetRootHubName, nullptr, 0,
                                          Bytes(reply), actual, &returned))
        return Block();
    return NarrowReplyName(reply, RootHubNameOffset);
}

Block QueryDownstreamHubName(HANDLE hub, ULONG port) {
    NodeConnectionNameHead request = {};
    request.ConnectionIndex = port;
    DWORD returned = 0;
    ULONG actual;
    {
        Block head(DeviceLayer::AllocBlock(NodeConnectionNameHeadSize));
        if (!head) return Block();
        std::memcpy(Bytes(head), &request, NodeConnectionNameHeadSize);
        if (!DeviceLayer::IoControl(hub, IoctlUsbGetNodeConnectionName, Bytes(head),
                                    NodeConnectionNameHeadSize, Bytes(head),
                                    NodeConnectionNameHeadSize, &returned))
            return Block();
        actual = ReadLe32(Bytes(head) + offsetof(NodeConnectionNameHead, ActualLength));
    }
    if (actual <= NodeConnectionNameHeadSize) return Block();
    Block reply(DeviceLayer::AllocBlock(actual));
    if (!reply) return Block();
    std::memcpy(Bytes(reply), &request.ConnectionIndex, sizeof request.ConnectionIndex);
    if (!DeviceLayer::IoControl(hub, IoctlUsbGetNodeConnectionName, Bytes(reply), actual,
                                Bytes(reply), actual, &returned))
        return Block();
    return NarrowReplyName(reply, NodeConnectionNameOffset);
}

Block FetchConfigurationDescriptor(HANDLE hub, ULONG port, UCHAR descriptorIndex) {
    DescriptorRequestHead request = {};
    request.ConnectionIndex = port;
    request.wValue = static_cast<USHORT>((ConfigurationDescriptorType << 8) | descriptorIndex);
    request.wLength = sizeof(UsbConfigurationDescriptor);
    const SIZE_T totalAt = offsetof(DescriptorBlock, Configuration.wTotalLength);
    DWORD returned = 0;
    USHORT total;
    {
        Block head(DeviceLayer::AllocBlock(sizeof(DescriptorBlock)));
        if (!head) return Block();
        std::memcpy(Bytes(head), &request, sizeof request);
        if (!DeviceLayer::IoControl(hub, IoctlUsbGetDescriptorFromNodeConnection, Bytes(head),
                                    sizeof(DescriptorBlock), Bytes(head), sizeof(DescriptorBlock),
                                    &returned) ||
            returned != sizeof(DescriptorBlock))
            return Block();
        total = ReadLe16(Bytes(head) + totalAt);
    }
    if (total < sizeof(UsbConfigurationDescriptor)) return Block();
    const DWORD size = static_cast<DWORD>(total + sizeof(DescriptorRequestHead));
    Block block(DeviceLayer::AllocBlock(size));
    if (!block) return Block();
    request.wLength = total;
    std::memcpy(Bytes(block), &request, sizeof request);
    if (!DeviceLayer::IoControl(hub, IoctlUsbGetDescriptorFromNodeConnection, Bytes(block), size,
                                Bytes(block), size, &returned) ||
        returned != size || ReadLe16(Bytes(block) + totalAt) != total)
        return Block();
    return block;
}

}  // namespace CameraLocator

bool FindCamera(Block* connectionInfo, Block* descriptors) {
    if (!connectionInfo || !descriptors) return false;
    connectionInfo->Reset();
    descriptors->Reset();
    for (int number = 0; number <= 9; ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "\\\\.\\HCD%d", number);
        const Device controller = OpenHubDevice(name);
        if (!controller) continue;
        Block rootHub = CameraLocator::QueryRootHubName(controller.Get());
        if (rootHub && SearchHub(std::move(rootHub), 0, connectionInfo, descriptors)) return true;
    }
    return false;
}

bool ScanProcessingUnit(const void* descriptorBlock, DWORD* powerLineFlag) {
    if (!descriptorBlock || !powerLineFlag) return false;
    const SIZE_T blockSize = DeviceLayer::BlockSize(descriptorBlock);
    if (blockSize < DescriptorDataOffset) return false;
    std::uint32_t flag = 0;
    if (!ScanDescriptorSet(static_cast<const BYTE*>(descriptorBlock) + DescriptorDataOffset,
                           blockSize - DescriptorDataOffset, &flag))
        return false;
    *powerLineFlag = flag;
    return true;
}

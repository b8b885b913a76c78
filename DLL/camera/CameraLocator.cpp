#include "DLL/camera/CameraLocator.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "DLL/camera/CameraIds.h"
#include "DLL/camera/DescriptorScan.h"
#include "DLL/camera/HubReply.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/camera/UsbLayouts.h"

namespace {

// Frees its block unless handed on.
class BlockOwner {
public:
    explicit BlockOwner(void* block) : block_(block) {}
    ~BlockOwner() { DeviceLayer::FreeBlock(block_); }
    BlockOwner(const BlockOwner&) = delete;
    BlockOwner& operator=(const BlockOwner&) = delete;
    explicit operator bool() const { return block_ != nullptr; }
    BYTE* bytes() const { return static_cast<BYTE*>(block_); }
    void* release() {
        void* block = block_;
        block_ = nullptr;
        return block;
    }

private:
    void* block_;
};

class DeviceOwner {
public:
    explicit DeviceOwner(HANDLE device) : device_(device) {}
    ~DeviceOwner() {
        if (device_ != INVALID_HANDLE_VALUE) DeviceLayer::CloseDevice(device_);
    }
    DeviceOwner(const DeviceOwner&) = delete;
    DeviceOwner& operator=(const DeviceOwner&) = delete;

private:
    HANDLE device_;
};

USHORT ReadU16(const BYTE* at) {
    USHORT value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
ULONG ReadU32(const BYTE* at) {
    ULONG value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
void WriteU16(BYTE* at, USHORT value) { std::memcpy(at, &value, sizeof value); }
void WriteU32(BYTE* at, ULONG value) { std::memcpy(at, &value, sizeof value); }

HANDLE OpenHubDevice(const char* name) {
    return DeviceLayer::OpenDevice(name, GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING, 0);
}

char* NarrowReplyName(const BYTE* reply, SIZE_T offset) {
    std::size_t units = 0;
    if (!FindReplyName(reply, DeviceLayer::BlockSize(reply), offset, &units)) return nullptr;
    std::wstring name(units, L'\0');
    for (std::size_t i = 0; i < units; ++i)
        name[i] = static_cast<WCHAR>(ReadU16(reply + offset + 2 * i));
    return CameraLocator::NarrowString(name.c_str());
}

bool IsCamera(const BYTE* info) {
    return info[offsetof(ConnectionInfoBlock, DeviceIsHub)] == 0 &&
           ReadU32(info + offsetof(ConnectionInfoBlock, ConnectionStatus)) != 0 &&
           ConnectionVendorId(info) == CameraVendorId &&
           (ConnectionProductId(info) & CameraProductMask) == CameraProductFirst;
}

bool SearchHub(char* hubName, int depth, void** connectionInfo, void** descriptors);

bool SearchHubPorts(HANDLE hub, ULONG portCount, int depth, void** connectionInfo,
                    void** descriptors) {
    BlockOwner info(DeviceLayer::AllocBlock(ConnectionInfoBlockSize));
    BlockOwner older(DeviceLayer::AllocBlock(ConnectionInfoBlockSize));
    if (!info || !older) return false;
    BYTE* block = info.bytes();
    for (ULONG port = 1; port <= portCount; ++port) {
        std::memset(block, 0, ConnectionInfoBlockSize);
        WriteU32(block, port);
        DWORD returned = 0;
        if (!DeviceLayer::IoControl(hub, IoctlUsbGetNodeConnectionInformationEx, block,
                                    ConnectionInfoBlockSize, block, ConnectionInfoBlockSize,
                                    &returned)) {
            BYTE* old = older.bytes();
            std::memset(old, 0, ConnectionInfoBlockSize);
            WriteU32(old, port);
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
            char* name = CameraLocator::QueryDownstreamHubName(hub, port);
            if (name && SearchHub(name, depth + 1, connectionInfo, descriptors)) return true;
            continue;
        }
        if (IsCamera(block)) {
            *descriptors = CameraLocator::FetchConfigurationDescriptor(hub, port, 0);
            *connectionInfo = info.release();
            return true;
        }
    }
    return false;
}

// Takes over hubName. depth 0 is a root hub.
bool SearchHub(char* hubName, int depth, void** connectionInfo, void** descriptors) {
    BlockOwner name(hubName);
    BlockOwner node(DeviceLayer::AllocBlock(sizeof(NodeInformationBlock)));
    if (!name || !node) return false;
    SIZE_T length = std::strlen(hubName);
    HANDLE hub;
    {
        BlockOwner deviceName(DeviceLayer::AllocBlock(length + 5));
        if (!deviceName) return false;
        std::memcpy(deviceName.bytes(), "\\\\.\\", 4);
        std::memcpy(deviceName.bytes() + 4, hubName, length + 1);
        hub = OpenHubDevice(reinterpret_cast<const char*>(deviceName.bytes()));
    }
    if (hub == INVALID_HANDLE_VALUE) return false;
    DeviceOwner hubOwner(hub);
    DWORD returned = 0;
    if (!DeviceLayer::IoControl(hub, IoctlUsbGetNodeInformation, node.bytes(),
                                sizeof(NodeInformationBlock), node.bytes(),
                                sizeof(NodeInformationBlock), &returned))
        return false;
    ULONG ports = node.bytes()[offsetof(NodeInformationBlock, bNumberOfPorts)];
    return ports > 0 && SearchHubPorts(hub, ports, depth, connectionInfo, descriptors);
}

}  // namespace

namespace CameraLocator {

char* NarrowString(const WCHAR* text) {
    if (!text) return nullptr;
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return nullptr;
    BlockOwner block(DeviceLayer::AllocBlock(size));
    if (!block) return nullptr;
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, reinterpret_cast<char*>(block.bytes()), size,
                            nullptr, nullptr) <= 0)
        return nullptr;
    return static_cast<char*>(block.release());
}

char* QueryRootHubName(HANDLE controller) {
    DWORD returned = 0;
    ULONG actual;
    {
        BlockOwner head(DeviceLayer::AllocBlock(RootHubNameHeadSize));
        if (!head ||
            !DeviceLayer::IoControl(controller, IoctlUsbGetRootHubName, nullptr, 0, head.bytes(),
                                    RootHubNameHeadSize, &returned))
            return nullptr;
        actual = ReadU32(head.bytes());
    }
    // Room for at least the terminator, or the reply cannot hold a name.
    if (actual < RootHubNameHeadSize) return nullptr;
    BlockOwner reply(DeviceLayer::AllocBlock(actual));
    if (!reply ||
        !DeviceLayer::IoControl(controller, IoctlUsbGetRootHubName, nullptr, 0, reply.bytes(),
                                actual, &returned))
        return nullptr;
    return NarrowReplyName(reply.bytes(), RootHubNameOffset);
}

char* QueryDownstreamHubName(HANDLE hub, ULONG port) {
    DWORD returned = 0;
    ULONG actual;
    {
        BlockOwner head(DeviceLayer::AllocBlock(NodeConnectionNameHeadSize));
        if (!head) return nullptr;
        WriteU32(head.bytes(), port);
        if (!DeviceLayer::IoControl(hub, IoctlUsbGetNodeConnectionName, head.bytes(),
                                    NodeConnectionNameHeadSize, head.bytes(),
                                    NodeConnectionNameHeadSize, &returned))
            return nullptr;
        actual = ReadU32(head.bytes() + offsetof(NodeConnectionNameHead, ActualLength));
    }
    if (actual <= NodeConnectionNameHeadSize) return nullptr;
    BlockOwner reply(DeviceLayer::AllocBlock(actual));
    if (!reply) return nullptr;
    WriteU32(reply.bytes(), port);
    if (!DeviceLayer::IoControl(hub, IoctlUsbGetNodeConnectionName, reply.bytes(), actual,
                                reply.bytes(), actual, &returned))
        return nullptr;
    return NarrowReplyName(reply.bytes(), NodeConnectionNameOffset);
}

void* FetchConfigurationDescriptor(HANDLE hub, ULONG port, UCHAR descriptorIndex) {
    const USHORT value = static_cast<USHORT>((ConfigurationDescriptorType << 8) | descriptorIndex);
    const SIZE_T headSize = sizeof(DescriptorRequestHead);
    const SIZE_T lengthAt = offsetof(DescriptorRequestHead, wLength);
    const SIZE_T valueAt = offsetof(DescriptorRequestHead, wValue);
    const SIZE_T totalAt = offsetof(DescriptorBlock, Configuration.wTotalLength);
    DWORD returned = 0;
    USHORT total;
    {
        BlockOwner head(DeviceLayer::AllocBlock(sizeof(DescriptorBlock)));
        if (!head) return nullptr;
        WriteU32(head.bytes(), port);
        WriteU16(head.bytes() + valueAt, value);
        WriteU16(head.bytes() + lengthAt, sizeof(UsbConfigurationDescriptor));
        if (!DeviceLayer::IoControl(hub, IoctlUsbGetDescriptorFromNodeConnection, head.bytes(),
                                    sizeof(DescriptorBlock), head.bytes(),
                                    sizeof(DescriptorBlock), &returned) ||
            returned != sizeof(DescriptorBlock))
            return nullptr;
        total = ReadU16(head.bytes() + totalAt);
    }
    if (total < sizeof(UsbConfigurationDescriptor)) return nullptr;
    DWORD size = static_cast<DWORD>(total + headSize);
    BlockOwner block(DeviceLayer::AllocBlock(size));
    if (!block) return nullptr;
    WriteU32(block.bytes(), port);
    WriteU16(block.bytes() + valueAt, value);
    WriteU16(block.bytes() + lengthAt, total);
    if (!DeviceLayer::IoControl(hub, IoctlUsbGetDescriptorFromNodeConnection, block.bytes(), size,
                                block.bytes(), size, &returned) ||
        returned != size || ReadU16(block.bytes() + totalAt) != total)
        return nullptr;
    return block.release();
}

}  // namespace CameraLocator

bool FindCamera(void** connectionInfo, void** descriptors) {
    if (!connectionInfo || !descriptors) return false;
    *connectionInfo = nullptr;
    *descriptors = nullptr;
    for (int number = 0; number <= 9; ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "\\\\.\\HCD%d", number);
        HANDLE controller = OpenHubDevice(name);
        if (controller == INVALID_HANDLE_VALUE) continue;
        bool found = false;
        {
            DeviceOwner owner(controller);
            if (char* rootHub = CameraLocator::QueryRootHubName(controller))
                found = SearchHub(rootHub, 0, connectionInfo, descriptors);
        }
        if (found) return true;
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

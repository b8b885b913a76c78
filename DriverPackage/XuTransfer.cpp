// No C++ runtime: this file also goes into a kernel-mode export driver.
#include "DriverPackage/XuTransfer.h"

#include "DLL/camera/DescriptorScan.h"
#include "DLL/camera/UsbLayouts.h"
#include "DLL/props/ControlTable.h"

namespace {

const uint8_t VendorWrite = 0x40;
const uint8_t VendorRead = 0xC0;

XuTransfer ControlWrite(uint16_t selector, int32_t value) {
    XuTransfer transfer = {};
    transfer.requestType = VendorWrite;
    transfer.request = XU_SET_REQUEST_CODE;
    transfer.value = static_cast<uint16_t>(value & 0xFFFF);
    transfer.index = selector;
    transfer.length = 0;
    transfer.dataOffset = XuControlHeaderSize;
    return transfer;
}

// "<base><suffix>" into a buffer that the longest name fits.
void Name(char (&out)[32], const char* base, const char* suffix) {
    uint32_t at = 0;
    for (const char* s = base; *s && at + 1 < sizeof out; ++s) out[at++] = *s;
    for (const char* s = suffix; *s && at + 1 < sizeof out; ++s) out[at++] = *s;
    out[at] = '\0';
}

}  // namespace

extern "C" {

int XuDescribeTransfer(const void* request, uint32_t inSize, uint32_t outSize,
                       XuTransfer* transfer) {
    if (!request || inSize < sizeof(XuControlRequest)) return 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(request);
    const uint8_t direction = bytes[offsetof(XuControlRequest, Direction)];
    const uint16_t dataLength = ReadLe16(bytes + offsetof(XuControlRequest, DataLength));
    if (direction == XuDirectionRead) {
        if (inSize != sizeof(XuControlRequest) || outSize < dataLength) return 0;
    } else if (direction == XuDirectionWrite) {
        const uint32_t expected = XuControlHeaderSize + dataLength;
        if (inSize != (expected < sizeof(XuControlRequest) ? sizeof(XuControlRequest) : expected))
            return 0;
    } else {
        return 0;
    }
    transfer->requestType = direction == XuDirectionRead ? VendorRead : VendorWrite;
    transfer->request = bytes[offsetof(XuControlRequest, RequestCode)];
    transfer->value = ReadLe16(bytes + offsetof(XuControlRequest, ControlValue));
    transfer->index = ReadLe16(bytes + offsetof(XuControlRequest, Selector));
    transfer->length = dataLength;
    transfer->dataOffset = XuControlHeaderSize;
    return 1;
}

int XuTransferAllowed(const XuTransfer* transfer) {
    if (transfer->requestType != VendorWrite || transfer->request != XU_SET_REQUEST_CODE ||
        transfer->length != 0)
        return 0;
    for (const PropertyInfo& info : PropertyInfoTable)
        if (info.selector == transfer->index) return 1;
    return 0;
}

uint32_t XuBytesReturned(const XuTransfer* transfer, uint32_t transferred) {
    return transfer->requestType & 0x80 ? transferred : 0;
}

uint32_t XuStartUpTransfers(XuStoredValue read, void* context, uint32_t standardPowerLine,
                            XuTransfer* transfers, uint32_t room) {
    uint32_t count = 0;
    for (int i = 0; i < PropertyCount && count < room; ++i) {
        // As the library withdraws it at start-up: the standard control serves instead.
        if (i == PropPowerLine && standardPowerLine) continue;
        const PropertyInfo& info = PropertyInfoTable[i];
        char name[32];
        int32_t enb, def, value;
        Name(name, info.baseName, "Enb");
        const int32_t* storedEnb = read(context, name, &enb) ? &enb : nullptr;
        Name(name, info.baseName, "Def");
        const int32_t* storedDef = read(context, name, &def) ? &def : nullptr;
        Name(name, info.baseName, "");
        const int32_t* storedValue = read(context, name, &value) ? &value : nullptr;
        const ControlState state = ResolveControl(i, storedEnb, storedDef, storedValue);
        if (state.enb != 0) transfers[count++] = ControlWrite(info.selector, state.value);
    }
    return count;
}

int XuStandardPowerLine(const void* set, uint32_t size, uint32_t* flag) {
    return ScanDescriptorSet(static_cast<const uint8_t*>(set), size, flag) ? 1 : 0;
}

}  // extern "C"

// No C++ runtime: this file also goes into a kernel-mode export driver.
#include "DriverPackage/XuTransfer.h"

#include "DLL/camera/UsbLayouts.h"

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
    transfer->requestType = direction == XuDirectionRead ? 0xC0 : 0x40;
    transfer->request = bytes[offsetof(XuControlRequest, RequestCode)];
    transfer->value = ReadLe16(bytes + offsetof(XuControlRequest, ControlValue));
    transfer->index = ReadLe16(bytes + offsetof(XuControlRequest, Selector));
    transfer->length = dataLength;
    transfer->dataOffset = XuControlHeaderSize;
    return 1;
}

uint32_t XuBytesReturned(const XuTransfer* transfer, uint32_t transferred) {
    return transfer->requestType & 0x80 ? transferred : transfer->length;
}

}  // extern "C"

#pragma once
/* The camera driver's rule for its extension-unit request (XuControlIoctl): which requests it
 * takes, and the vendor control transfer on the default pipe that carries each to the device.
 * Built into the extension-unit library of the driver package, and into the user-mode model of
 * the camera and its driver. Plain C types: kernel and user-mode sources both include it. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct XuTransfer {
    uint8_t requestType; /* 0x40 host to device or 0xC0 device to host: vendor, device */
    uint8_t request;     /* the request's RequestCode */
    uint16_t value;      /* its ControlValue */
    uint16_t index;      /* its Selector */
    uint16_t length;     /* its DataLength: the data stage */
    uint32_t dataOffset; /* a write's data, from this byte of the request */
} XuTransfer;

/* Checks a request of inSize bytes whose caller offers outSize bytes for the reply: a read is
 * exactly 10 bytes and needs DataLength bytes of room; a write is 8 + DataLength bytes, or 10
 * when DataLength is 0. False for anything else. */
int XuDescribeTransfer(const void* request, uint32_t inSize, uint32_t outSize,
                       XuTransfer* transfer);

/* What the driver reports as bytes returned once the device took the transfer: DataLength for
 * a write, the bytes read for a read. */
uint32_t XuBytesReturned(const XuTransfer* transfer, uint32_t transferred);

#ifdef __cplusplus
}
#endif

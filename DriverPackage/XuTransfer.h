#pragma once
/* The camera driver's rule for its extension-unit request (XuControlIoctl): which requests it
 * takes, the vendor control transfer on the default pipe that carries each to the device, and
 * the transfers that put the stored settings back when the device starts. Built into the
 * extension-unit library of the driver package, and into the user-mode model of the camera and
 * its driver. Plain C types: kernel and user-mode sources both include it. */
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

/* Whether the driver carries a well-formed request to the camera at all: only what the camera
 * library sends, a write of one of its controls (its request code, a control's selector, the
 * value in ControlValue, no data). Reads, other codes and selectors, and data never reach the
 * firmware. */
int XuTransferAllowed(const XuTransfer* transfer);

/* What the driver reports as bytes returned once the device took the transfer: the bytes read
 * for a read; nothing for a write, which puts nothing into the caller's output (so a write of
 * DataLength 0, the only kind carried, reports its DataLength). */
uint32_t XuBytesReturned(const XuTransfer* transfer, uint32_t transferred);

/* Reads one stored REG_DWORD of the driver's Settings key: nonzero and *value set when it is
 * there and usable. */
typedef int (*XuStoredValue)(void* context, const char* name, int32_t* value);

/* The writes that give a camera just powered on its stored settings, by the rule the library
 * loads them (each control's value, default and enabled flag, fallbacks, range), in table order,
 * disabled controls left out, and the vendor power-line control too when the camera's standard
 * processing unit offers power-line frequency (`standardPowerLine`, from XuStandardPowerLine).
 * Fills up to `room` transfers; returns how many. */
uint32_t XuStartUpTransfers(XuStoredValue read, void* context, uint32_t standardPowerLine,
                            XuTransfer* transfers, uint32_t room);

/* The library's scan of a configuration descriptor set of `size` bytes (from the configuration
 * descriptor on): nonzero when it holds a qualifying processing unit, with *flag 1 when that unit
 * offers the power-line frequency control, else 0. */
int XuStandardPowerLine(const void* set, uint32_t size, uint32_t* flag);

#ifdef __cplusplus
}
#endif

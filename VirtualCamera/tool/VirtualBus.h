#pragma once
// A user-mode handle on the virtual USB bus driver's control device: plug and unplug the
// virtual hardware and wait until the platform has seen it. Used by the VirtualUsb tool and by
// the driver installer stand-in (to re-plug a camera whose driver changed).
#include <windows.h>

#include <cstdint>
#include <vector>

#include "Common/Owners.h"
#include "VirtualCamera/bus/VirtualUsbControl.h"

class VirtualBus {
public:
    // False when no virtual bus runs here (as on a machine with real hardware).
    bool Open();
    bool Status(VusbBusStatus* status) const;
    bool PlugBus(const std::vector<std::uint8_t>& sceneBytes) const;
    bool UnplugBus() const;
    // Pulls the camera out and waits until the platform has removed it (its driver stack gone);
    // puts it back and waits until the platform has taken it in: started when `driverExpected`,
    // else asked for its IDs and hardware IDs. False on a time-out.
    bool UnplugCamera(DWORD timeoutMs) const;
    bool PlugCamera(bool driverExpected, DWORD timeoutMs) const;
    bool CameraValue(std::uint16_t selector, VusbCameraReading* reading) const;
    // A camera that answers no vendor request: each is held until its sender cancels it.
    bool HoldRequests(bool hold) const;
    // The machine sleeps, hibernates or wakes (VUSB_SYSTEM_*): answered once the camera's stack has
    // taken the system power request.
    bool SystemPower(std::uint32_t state) const;
    // The class driver idles the camera (selective suspend), or brings it back to full power.
    bool IdleCamera(bool idle) const;
    // Waits until no camera is on the bus and the platform has removed every stack of one.
    bool WaitForCameraGone(DWORD timeoutMs) const;
    // Waits for the camera just plugged in (see PlugCamera).
    bool WaitForCamera(bool driverExpected, DWORD timeoutMs) const;

private:
    bool Request(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize) const;
    FileHandle device;
};

#include "VirtualCamera/tool/VirtualBus.h"

bool VirtualBus::Open() {
    device.Reset(CreateFileA(VUSB_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    return device.IsValid();
}

bool VirtualBus::Request(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize) const {
    DWORD returned = 0;
    return DeviceIoControl(device.Get(), code, const_cast<void*>(in), inSize, out, outSize,
                           &returned, nullptr) != FALSE &&
           returned == outSize;
}

bool VirtualBus::Status(VusbBusStatus* status) const {
    return Request(IOCTL_VUSB_STATUS, nullptr, 0, status, sizeof *status);
}

bool VirtualBus::PlugBus(const std::vector<std::uint8_t>& sceneBytes) const {
    return Request(IOCTL_VUSB_PLUG_BUS, sceneBytes.data(), static_cast<DWORD>(sceneBytes.size()),
                   nullptr, 0);
}

bool VirtualBus::UnplugBus() const {
    return Request(IOCTL_VUSB_UNPLUG_BUS, nullptr, 0, nullptr, 0);
}

bool VirtualBus::CameraValue(std::uint16_t selector, VusbCameraReading* reading) const {
    return Request(IOCTL_VUSB_CAMERA_VALUE, &selector, sizeof selector, reading, sizeof *reading);
}

bool VirtualBus::HoldRequests(bool hold) const {
    const std::uint32_t on = hold ? 1 : 0;
    return Request(IOCTL_VUSB_CAMERA_HOLD, &on, sizeof on, nullptr, 0);
}

bool VirtualBus::SystemPower(std::uint32_t state) const {
    return Request(IOCTL_VUSB_SYSTEM_POWER, &state, sizeof state, nullptr, 0);
}

bool VirtualBus::IdleCamera(bool idle) const {
    const std::uint32_t on = idle ? 1 : 0;
    return Request(IOCTL_VUSB_CAMERA_IDLE, &on, sizeof on, nullptr, 0);
}

namespace {

// Polls until the condition holds; the platform's plug and play work runs in its own time.
template <typename Condition>
bool Await(const VirtualBus& bus, DWORD timeoutMs, Condition holds) {
    const DWORD start = GetTickCount();
    for (;;) {
        VusbBusStatus status;
        if (!bus.Status(&status)) return false;
        if (holds(status)) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
}

}  // namespace

bool VirtualBus::UnplugCamera(DWORD timeoutMs) const {
    const std::uint32_t out = 0;
    return Request(IOCTL_VUSB_PLUG_CAMERA, &out, sizeof out, nullptr, 0) &&
           WaitForCameraGone(timeoutMs);
}

bool VirtualBus::WaitForCameraGone(DWORD timeoutMs) const {
    return Await(*this, timeoutMs,
                 [](const VusbBusStatus& s) { return !s.cameraPlugged && s.departedAlive == 0; });
}

bool VirtualBus::PlugCamera(bool driverExpected, DWORD timeoutMs) const {
    const std::uint32_t in = 1;
    return Request(IOCTL_VUSB_PLUG_CAMERA, &in, sizeof in, nullptr, 0) &&
           WaitForCamera(driverExpected, timeoutMs);
}

bool VirtualBus::WaitForCamera(bool driverExpected, DWORD timeoutMs) const {
    return Await(*this, timeoutMs, [driverExpected](const VusbBusStatus& s) {
        return s.cameraPlugged && s.departedAlive == 0 &&
               (driverExpected ? s.cameraStarted : s.cameraEnumerated);
    });
}

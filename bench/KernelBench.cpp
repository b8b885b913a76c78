// Start-up and Set_ through the platform's kernel: the shipped device layer, the virtual USB bus
// driver (a large bus plugged in) and the camera's driver package, against a bare program making
// the same requests to the same drivers. Prints medians and the ratios; never fails anything.
// Exit code 0 unless the camera could not be reached at all. scripts/bench sets the machine up.
#include <windows.h>

#include <cstdio>
#include <string>

#include "DLL/camera/DeviceChannel.h"
#include "DLL/camera/DeviceLayer.h"
#include "DLL/props/PropertyTable.h"
#include "bench/BenchSupport.h"
#include "bench/StartUpFloor.h"

namespace {

// One Set_ through the library, the camera's filter and the bus, against the calls it must make.
void BenchSetThroughKernel(HMODULE module, RecordedStartUp& run) {
    const char* name = "Set_Flip, kernel";
    StartUp(module);
    ChannelFloor& channel = run.channel;
    channel.OpenSettings();
    HANDLE lock = CreateMutexA(nullptr, FALSE, nullptr);
    HANDLE device = DeviceLayer::OpenDevice(run.devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL);
    if (!TheDeviceChannel.IsOpen() || ExtensionPropertyTable[PropFlip].Enb == 0 || !lock ||
        device == INVALID_HANDLE_VALUE || !channel.settings) {
        Skip(name, 1.05, "the library or the floor's handles did not reach the camera");
    } else {
        int refused = 0;
        const Figures figures = MeasureSetFlip(
            200, 50,
            [&](long value) {
                return TimeWriteFloor(lock, device, channel.settings, PropFlip, value);
            },
            &refused);
        Table.push_back({name, figures, 1.05, true});
        if (refused) Note(Findings, "Set_Flip through the kernel returned false %d times", refused);
        Note(Notes,
             "Set_Flip through the kernel: the library, the camera's filter and the bus driver; "
             "floor = request lock wait/release + one 10-byte write request on the capture "
             "interface + RegSetValueExA of \"%s\"",
             PropertyInfoTable[PropFlip].baseName);
    }
    if (device != INVALID_HANDLE_VALUE) DeviceLayer::CloseDevice(device);
    if (lock) CloseHandle(lock);
    if (channel.settings) RegCloseKey(channel.settings);
    ShutDown();
}

}  // namespace

int main() {
    const double start = Seconds();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("Kovaltix benchmark through the kernel: medians of %d rounds\n\n", Rounds);
    const char* name = "start-up, kernel";
    RecordedStartUp run;
    std::string why;
    if (RecordStartUp(GetModuleHandleA(nullptr), &run, &why)) {
        Table.push_back({name, MeasureStartUp(GetModuleHandleA(nullptr), run), 1.05, true});
        Note(Notes,
             "start-up through the kernel: floor = the library's own %d device-layer calls "
             "(%d opens, %d hub requests, %d blocks, %d others) to the virtual bus driver and the "
             "camera's driver, recorded once and played back, plus the channel's %d registry "
             "reads, key opens and mutex in the library's order; the camera at %s",
             static_cast<int>(run.replay.Events().size()), run.opens, run.requests, run.blocks,
             run.other, static_cast<int>(run.channel.names.size()) + 2, run.devicePath.c_str());
        BenchSetThroughKernel(GetModuleHandleA(nullptr), run);
    } else {
        Skip(name, 1.05, why.c_str());
        Skip("Set_Flip, kernel", 1.05, why.c_str());
    }
    const int measured = PrintReport();
    std::printf("\nWhole run: %.1f s\n", Seconds() - start);
    return measured > 0 ? 0 : 1;
}

#pragma once
// Start-up and shut-down of the library against its floor: the device-layer calls of one
// recorded start-up played back, with the channel's registry reads and mutex at the library's
// places. The benchmark over the user-mode model and the one through the kernel share it.
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/DeviceTrace.h"

// The channel's registry and kernel-object calls, in the library's order.
struct ChannelFloor {
    std::string instanceId;
    std::vector<std::string> names;  // the values start-up reads, in its order
    HKEY settings = nullptr;
    HANDLE lock = nullptr;

    void OpenSettings();
    void Load();
};

// One start-up and shut-down of the library as recorded.
struct RecordedStartUp {
    DeviceTrace::Replay replay{std::vector<DeviceTrace::Event>()};
    ChannelFloor channel;
    std::string devicePath;  // the capture interface the channel opened
    std::size_t interfaceOpen = 0, listDestroyed = 0, channelClose = 0;
    int opens = 0, requests = 0, blocks = 0, other = 0;
};

// Records the library's start-up and shut-down over whatever hardware the device layer reaches;
// false with a reason when it found no camera or the recording lacks the channel's open and
// close.
bool RecordStartUp(HMODULE module, RecordedStartUp* run, std::string* why);

// Times start-up + shut-down (batches of 8, 3 to warm up) against the recording's floor.
Figures MeasureStartUp(HMODULE module, RecordedStartUp& run);

// Set_Flip through the library against `floor` (the calls it must make for the value given),
// values alternating; *refused counts the calls that returned false.
Figures MeasureSetFlip(int batch, int warmup, const std::function<double(long)>& floor,
                       int* refused);

// The platform calls a Set_ of one control must make: the request lock waited for and released
// around one 10-byte write request on the capture interface, and the value stored. Timed.
double TimeWriteFloor(HANDLE lock, HANDLE device, HKEY settings, int index, long value);

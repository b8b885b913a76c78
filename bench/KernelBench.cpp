// Start-up through the platform's kernel: the shipped device layer, the virtual USB bus driver
// (a large bus plugged in) and the camera's driver package, against a bare program making the
// same requests to the same drivers. Prints medians and the ratio; never fails anything. Exit
// code 0 unless the camera could not be reached at all. scripts/bench sets the machine up.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/StartUpFloor.h"

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
    } else {
        Skip(name, 1.05, why.c_str());
    }
    const int measured = PrintReport();
    std::printf("\nWhole run: %.1f s\n", Seconds() - start);
    return measured > 0 ? 0 : 1;
}

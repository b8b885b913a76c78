#pragma once
// Records the device-layer calls of one stretch of library code, and plays them back against the
// virtual camera without the library: the same requests, in the same order, with the same bytes.
// The program is linked with --wrap on every DeviceLayer function, so the library's calls and the
// bench's own pass through the same forwarding step.
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <string>
#include <vector>

namespace DeviceTrace {

enum class Call {
    Open,
    IoControl,
    Close,
    ClassDevs,
    EnumInterface,
    InterfaceDetail,
    DestroyList,
    Alloc,
    Free,
    Size,
};

struct Event {
    Call call = Call::Open;
    std::string path;   // Open
    DWORD arg[4] = {};  // Open: access, share, disposition, flags. IoControl: code, in size,
                        // out size. ClassDevs: flags. EnumInterface: index. Detail: size.
    int object = -1;    // event that made the handle, list or block used; -1: none known
    HANDLE rawHandle = nullptr;  // the handle as given, when no event made it
    int inBlock = -1;            // IoControl input, or the detail buffer, inside this block
    std::size_t inOffset = 0;
    int outBlock = -1;
    std::size_t outOffset = 0;
    bool hasIn = false;
    bool hasOut = false;
    bool hasReturned = false;  // IoControl: a count was asked for; Detail: a required size
    std::vector<BYTE> input;   // request bytes as sent; Detail: the cbSize given
    SIZE_T size = 0;           // Alloc
    GUID guid = {};            // ClassDevs, EnumInterface
};

void Start();
std::vector<Event> Stop();

// Plays a recording back. Before and after each event the hooks get its index, for the calls
// of the same stretch that do not go through the device layer.
class Replay {
public:
    explicit Replay(std::vector<Event> events);
    const std::vector<Event>& Events() const { return events; }

    template <typename Before, typename After>
    void Run(Before before, After after) {
        for (std::size_t i = 0; i < events.size(); ++i) {
            before(i);
            Play(i);
            after(i);
        }
    }

private:
    void Play(std::size_t index);
    void* Address(int block, std::size_t offset, std::vector<BYTE>& scratch);

    std::vector<Event> events;
    std::vector<std::vector<BYTE>> scratch;  // inputs that lay outside any block
    std::vector<HANDLE> handles;
    std::vector<void*> blocks;
    SP_DEVICE_INTERFACE_DATA interfaceData;
};

}  // namespace DeviceTrace

#pragma once
// A machine's USB hardware as data: controllers, hub tiers, the devices on their ports, the
// camera among them, and faults. The user-mode model answers from it in the test process; the
// kernel bus driver answers from the same bytes once a tool has handed them over.
#include <cstdint>
#include <string>
#include <vector>

#include "VirtualCamera/hardware/UsbHardware.h"

namespace vcam {

using HubId = int;  // 0 is never a valid hub

struct UsbDevice {
    unsigned short vendorId = 0;
    unsigned short productId = 0;
    unsigned long connectionStatus = 1;        // 0: nothing connected
    std::vector<unsigned char> configuration;  // the whole configuration descriptor set
};

struct ControllerFaults {
    bool open = false;
    bool rootNameSize = false;       // first root hub name request
    bool rootName = false;           // second request
    long rootNameActualLength = -1;  // >= 0: reported instead of the true size
};

struct HubFaults {
    bool open = false;
    bool nodeInformation = false;
    bool connectionEx = false;  // every port refuses the newer request
    bool connection = false;    // every port refuses the older request
};

struct PortFaults {
    bool connectionEx = false;
    bool connection = false;
    bool nameSize = false;              // first downstream hub name request
    bool name = false;                  // second request
    long nameActualLength = -1;         // >= 0: reported instead of the true size
    bool descriptorHead = false;        // first descriptor fetch (9 bytes)
    bool descriptorBody = false;        // second descriptor fetch (whole set)
    long descriptorHeadBytesDelta = 0;  // added to the byte count reported
    long descriptorBodyBytesDelta = 0;
    long bodyTotalLengthDelta = 0;  // wTotalLength in the second reply changes by this
};

class Scene {
public:
    Scene();

    // Host controller "\\.\HCD<number>" (0..9) with a root hub; an empty name gives a unique
    // default. 0 when the number is out of range or the hubs run out.
    HubId AddController(int number, int ports, const std::string& rootHubName = "");
    // A hub on a port of parent (a port holds one hub or device; attaching again replaces it).
    HubId AttachHub(HubId parent, int port, int ports, const std::string& name = "");
    // The port reports a hub that exists already (malformed topologies).
    void AttachHubLink(HubId parent, int port, HubId target);
    bool AttachDevice(HubId parent, int port, const UsbDevice& device);
    // The device at hub/port is the camera that the bus reports to the platform.
    bool SetCamera(HubId hub, int port, bool composite);
    // What the camera holds for a selector whenever it powers on (the firmware's own values
    // otherwise).
    bool SetPowerOn(unsigned short selector, unsigned short value);
    // Whether the camera's port loses power while the system sleeps (it always does in a
    // hibernation).
    void SetSleepPowerOff(bool off) { hardware.sleepPowerOff = off ? 1 : 0; }

    void SetControllerFaults(int number, const ControllerFaults& faults);
    void SetHubFaults(HubId hub, const HubFaults& faults);
    void SetPortFaults(HubId hub, int port, const PortFaults& faults);

    bool HubExists(HubId hub) const;
    std::string HubName(HubId hub) const;

    const VusbScene& Hardware() const { return hardware; }
    const std::vector<std::uint8_t>& Pool() const { return pool; }
    // What the bus driver takes: the scene, then the pool.
    std::vector<std::uint8_t> Bytes() const;

private:
    HubId NewHub(bool root, int ports, const std::string& name);
    VusbPort* Port(HubId hub, int port);  // made when missing; null outside the hub's ports

    VusbScene hardware;
    std::vector<std::uint8_t> pool;  // configuration descriptor sets
    HubId nextHub = 1;
};

// A scene from its text (one statement a line, '#' starts a comment):
//   controller <n> ports <count> [name <root hub name>]
//   hub <place> ports <count> [name <name>]
//   device <place> vendor <hex> product <hex> [status <n>] [descriptors <file>]
//   camera <place> product <hex> [descriptors <file>] [composite yes|no]
//   fault <place> <fault> [<number>]
//   power-on <selector> <value>        what the camera holds for a selector at power-on
//   sleep-power on|off                 whether the camera's port keeps power while the system
//                                      sleeps (on unless a scene says off)
// A place is the controller's number followed by the port at each tier: 0/2/3 is port 3 of the
// hub on port 2 of controller 0's root hub. Descriptor files are read from `folder`: raw bytes
// (.bin) or hexadecimal text. False with a message naming the line on any error.
bool ParseScene(const std::string& text, const std::string& folder, Scene* scene,
                std::string* error);

// Hexadecimal text ("09 02 a0 00 ..."; '#' to the end of a line is a comment) as bytes.
bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>* bytes);

}  // namespace vcam

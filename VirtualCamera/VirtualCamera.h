#pragma once
// A model of USB host controllers, hubs, the camera and its driver behind DeviceLayer, with
// fault injection and accounting of handles and blocks. Thread-safe.
#include <windows.h>
#include <string>
#include <vector>

#include "VirtualCamera/Scene.h"

namespace vcam {

// ---- Machine ---------------------------------------------------------------------------------

// Empty machine: no controllers, no interfaces, no faults; logs and counters cleared.
// Leak counters are cleared too, so call it only when nothing of the previous scenario is held.
void Reset();

// Host controller "\\.\HCD<number>" (0..9) with a root hub of the given port count.
// name: the root hub's name (without "\\.\"); empty gives a unique default.
HubId AddHostController(int number, int ports, const std::string& rootHubName = "");
// A hub on a port of parent (a port holds one hub or device; attaching again replaces it).
HubId AttachHub(HubId parent, int port, int ports, const std::string& name = "");
// Malformed topologies: the port reports a hub whose name is that of an existing hub
// (e.g. the parent itself).
void AttachHubLink(HubId parent, int port, HubId target);
std::string HubName(HubId hub);

void AttachDevice(HubId parent, int port, const UsbDevice& device);

// ---- Faults ----------------------------------------------------------------------------------

void SetControllerFaults(int number, const ControllerFaults& faults);

void SetHubFaults(HubId hub, const HubFaults& faults);

void SetPortFaults(HubId hub, int port, const PortFaults& faults);

// Every request kind the locator and the channel send, counted from the last Reset.
enum class Request {
    ControllerOpen,
    RootHubNameSize,
    RootHubName,
    HubOpen,
    NodeInformation,
    ConnectionEx,
    Connection,
    HubNameSize,
    HubName,
    DescriptorHead,
    DescriptorBody,
    ClassDevs,
    EnumInterface,
    InterfaceDetail,
    InterfaceOpen,
    XuControl,
    Count
};
// The nth request of that kind from now on (1 = the next one) fails; 0 clears.
void FailNth(Request request, int nth);
int RequestCount(Request request);
// The nth block allocation from now on returns null; 0 clears.
void FailNthAllocation(int nth);

// ---- Capture interfaces and the camera driver ---------------------------------------------

struct CaptureInterface {
    std::string path;  // as reported by the detail request, e.g. "\\?\usb#vid_...\global"
    bool enumFails = false;
    bool detailFails = false;
    bool openFails = false;
};
// Appends at the next index; returns the index.
int AddCaptureInterface(const CaptureInterface& entry);
void SetClassDevsFails(bool fails);
// The interface's device pulled out: from now on every handle opened on it before fails each
// request with ERROR_DEVICE_REMOVED (the removed device's stack stays until its last handle
// closes, and answers so), and the interface is neither listed nor openable.
void PullCaptureInterface(int index);
// Put back under the same path: listed and openable again (old handles still fail). The camera
// starts blank, and its driver gives it what the driver instance's Settings key holds, by the
// driver package's start-up rule.
void PutCaptureInterfaceBack(int index);

struct XuRecord {
    DWORD code = 0;
    std::vector<unsigned char> input;
    DWORD outputSize = 0;
    bool hadOutput = false;
    std::string path;  // the interface the handle was opened on
};
std::vector<XuRecord> XuRequests();

// Reply of the driver. bytesReturned < 0: what the camera driver's rule reports (nothing for a
// write, the bytes read for a read); a request that fails fails with `error`. The model carries
// every well-formed request, as the channel's own tests need; which of them the kernel driver
// refuses is its rule's business.
void SetXuResponse(bool succeed, long bytesReturned = -1, DWORD error = ERROR_GEN_FAILURE);
// Last value written to a selector (header value, or the data's first two bytes); reads return it.
unsigned short XuValue(unsigned short selector, bool* known = nullptr);
void SetXuValue(unsigned short selector, unsigned short value);
// How long the driver holds each request "in flight", and how often a request arrived while
// another was still in flight.
void SetXuHoldMicroseconds(unsigned microseconds);
int XuOverlaps();

// ---- Accounting ------------------------------------------------------------------------------

int OpenHandles();       // device handles and interface lists not yet closed
int LiveBlocks();        // blocks not yet freed
int BadReleases();       // closes and frees of unknown or already released objects
int ProtocolErrors();    // requests whose sizes or contents broke the hub drivers' rules
std::string Describe();  // one line of the counters, for test messages

// Blocks end exactly at an inaccessible page, so a read one byte past any block faults.
// Default true.
void SetGuardedBlocks(bool guarded);

// ---- The standard camera ---------------------------------------------------------------------

constexpr unsigned short StandardProductId = 0x1801;
extern const char* const StandardInstance;   // instance part of the device path
extern const char* const StandardDriverKey;  // "Driver" value: key below ...\Control\Class

// Configuration descriptor set of a camera: video-control interface with a processing unit
// (bControlSize 3, bit 10 of bmControls = powerLine), streaming interface, endpoints.
std::vector<unsigned char> CameraConfiguration(bool powerLine, unsigned char controlSize = 3);

struct StandardCameraOptions {
    bool powerLine = false;
    unsigned short productId = StandardProductId;
    bool externalHub = true;  // controller 0 -> root hub port 1 -> hub port 2 -> camera
};
struct StandardCamera {
    HubId rootHub = 0;
    HubId externalHub = 0;  // 0 when plugged straight into the root hub
    HubId cameraHub = 0;
    int cameraPort = 0;
    std::string devicePath;  // the camera's capture interface (interface index 0)
    std::string instanceId;  // "usb\vid_2f3a&pid_1801&mi_00\<instance>"
};
// Adds controller 0 with the camera and its capture interface to the current machine.
StandardCamera PlugStandardCamera(const StandardCameraOptions& options = {});

// Capture interface path for vendor/product/interface text, e.g. DevicePath(0x2F3A, 0x1801, "00").
std::string DevicePath(unsigned short vendorId, unsigned short productId,
                       const std::string& interfaceText, const std::string& instance = "");

// ---- Registry (Wine's real HKLM) -----------------------------------------------------------

struct RegistryOptions {
    bool instanceKey = true;
    bool driverValue = true;
    bool settingsKey = true;
};
// Creates SYSTEM\CurrentControlSet\Enum\<instanceId> with "Driver" = driverKey and
// SYSTEM\CurrentControlSet\Control\Class\<driverKey>\Settings. Returns the Settings path below
// HKLM ("" on failure). Existing values are kept.
std::string CreateDriverKeys(const std::string& instanceId,
                             const std::string& driverKey = StandardDriverKey,
                             const RegistryOptions& options = {});
// Removes what CreateDriverKeys made (the instance key and the driver key with its subkeys).
void RemoveDriverKeys(const std::string& instanceId,
                      const std::string& driverKey = StandardDriverKey);
std::string InstanceIdFromPath(const std::string& devicePath);

// For the demo library's global constructor: an empty machine with the standard camera, its
// capture interface and registry keys (created when missing).
void PlugStandardCameraForDemo();

}  // namespace vcam

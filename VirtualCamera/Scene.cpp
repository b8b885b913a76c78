#include "VirtualCamera/Scene.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vcam {

Scene::Scene() : hardware() { VusbCameraPowerOnDefaults(&hardware.powerOn); }

bool Scene::SetPowerOn(unsigned short selector, unsigned short value) {
    return VusbCameraSetValue(&hardware.powerOn, selector, value) != 0;
}

bool Scene::HubExists(HubId hub) const {
    return hub > 0 && hub < VusbMaxHubs && hardware.hubs[hub].used;
}

std::string Scene::HubName(HubId hub) const {
    return HubExists(hub) ? std::string(hardware.hubs[hub].name) : std::string();
}

HubId Scene::NewHub(bool root, int ports, const std::string& name) {
    if (nextHub >= VusbMaxHubs) return 0;
    const HubId id = nextHub++;
    VusbHub& hub = hardware.hubs[id];
    hub = VusbHub{};
    hub.used = 1;
    hub.ports = static_cast<std::uint8_t>(std::max(0, std::min(ports, 255)));
    if (name.empty())
        std::snprintf(
            hub.name, sizeof hub.name,
            root ? "USB#ROOT_HUB20#4&2f%04x&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}"
                 : "USB#VID_05E3&PID_0610#5&3a%04x&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}",
            id);
    else
        std::snprintf(hub.name, sizeof hub.name, "%s", name.c_str());
    return id;
}

VusbPort* Scene::Port(HubId hub, int port) {
    if (!HubExists(hub) || port < 1 || port > hardware.hubs[hub].ports) return nullptr;
    for (std::uint32_t i = 0; i < hardware.portCount; ++i) {
        VusbPort& p = hardware.ports[i];
        if (p.hub == hub && p.number == port) return &p;
    }
    if (hardware.portCount == VusbMaxPorts) return nullptr;
    VusbPort& p = hardware.ports[hardware.portCount++];
    p = VusbPort{};
    p.hub = static_cast<std::uint8_t>(hub);
    p.number = static_cast<std::uint8_t>(port);
    p.faults.nameActualLength = -1;
    return &p;
}

HubId Scene::AddController(int number, int ports, const std::string& rootHubName) {
    if (number < 0 || number >= VusbControllerCount) return 0;
    const HubId root = NewHub(true, ports, rootHubName);
    if (!root) return 0;
    VusbController& controller = hardware.controllers[number];
    controller = VusbController{};
    controller.present = 1;
    controller.rootHub = static_cast<std::uint8_t>(root);
    controller.faults.rootNameActualLength = -1;
    return root;
}

HubId Scene::AttachHub(HubId parent, int port, int ports, const std::string& name) {
    if (!Port(parent, port)) return 0;
    const HubId id = NewHub(false, ports, name);
    if (!id) return 0;
    AttachHubLink(parent, port, id);
    return id;
}

void Scene::AttachHubLink(HubId parent, int port, HubId target) {
    if (VusbPort* p = Port(parent, port)) {
        p->kind = VusbHubPort;
        p->target = static_cast<std::uint8_t>(target);
    }
}

bool Scene::AttachDevice(HubId parent, int port, const UsbDevice& device) {
    VusbPort* p = Port(parent, port);
    if (!p) return false;
    p->kind = VusbDevicePort;
    p->target = 0;
    p->vendorId = device.vendorId;
    p->productId = device.productId;
    p->connectionStatus = static_cast<std::uint32_t>(device.connectionStatus);
    p->configOffset = static_cast<std::uint32_t>(pool.size());
    p->configLength = static_cast<std::uint32_t>(device.configuration.size());
    pool.insert(pool.end(), device.configuration.begin(), device.configuration.end());
    hardware.poolBytes = static_cast<std::uint32_t>(pool.size());
    return true;
}

bool Scene::SetCamera(HubId hub, int port, bool composite) {
    const VusbPort* p = VusbFindPort(&hardware, hub, port);
    if (!p || p->kind != VusbDevicePort) return false;
    hardware.cameraHub = static_cast<std::uint8_t>(hub);
    hardware.cameraPort = static_cast<std::uint8_t>(port);
    hardware.cameraComposite = composite ? 1 : 0;
    return true;
}

void Scene::SetControllerFaults(int number, const ControllerFaults& faults) {
    if (number < 0 || number >= VusbControllerCount) return;
    VusbControllerFaults& f = hardware.controllers[number].faults;
    f.open = faults.open;
    f.rootNameSize = faults.rootNameSize;
    f.rootName = faults.rootName;
    f.rootNameActualLength = static_cast<std::int32_t>(faults.rootNameActualLength);
}

void Scene::SetHubFaults(HubId hub, const HubFaults& faults) {
    if (!HubExists(hub)) return;
    VusbHubFaults& f = hardware.hubs[hub].faults;
    f.open = faults.open;
    f.nodeInformation = faults.nodeInformation;
    f.connectionEx = faults.connectionEx;
    f.connection = faults.connection;
}

void Scene::SetPortFaults(HubId hub, int port, const PortFaults& faults) {
    VusbPort* p = Port(hub, port);
    if (!p) return;
    VusbPortFaults& f = p->faults;
    f.connectionEx = faults.connectionEx;
    f.connection = faults.connection;
    f.nameSize = faults.nameSize;
    f.name = faults.name;
    f.descriptorHead = faults.descriptorHead;
    f.descriptorBody = faults.descriptorBody;
    f.nameActualLength = static_cast<std::int32_t>(faults.nameActualLength);
    f.descriptorHeadBytesDelta = static_cast<std::int32_t>(faults.descriptorHeadBytesDelta);
    f.descriptorBodyBytesDelta = static_cast<std::int32_t>(faults.descriptorBodyBytesDelta);
    f.bodyTotalLengthDelta = static_cast<std::int32_t>(faults.bodyTotalLengthDelta);
}

std::vector<std::uint8_t> Scene::Bytes() const {
    const std::uint8_t* head = reinterpret_cast<const std::uint8_t*>(&hardware);
    std::vector<std::uint8_t> bytes(head, head + sizeof hardware);
    bytes.insert(bytes.end(), pool.begin(), pool.end());
    return bytes;
}

// ---- The scene's text ----------------------------------------------------------------------

bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>* bytes) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string word;
        while (words >> word) {
            char* end = nullptr;
            const unsigned long value = std::strtoul(word.c_str(), &end, 16);
            if (word.size() > 2 || *end != '\0' || value > 0xFF) return false;
            bytes->push_back(static_cast<std::uint8_t>(value));
        }
    }
    return true;
}

namespace {

struct Place {
    int controller = -1;
    std::vector<int> ports;  // the port at each tier below the root hub
};

bool ParsePlace(const std::string& text, Place* place) {
    std::istringstream parts(text);
    std::string part;
    bool first = true;
    while (std::getline(parts, part, '/')) {
        char* end = nullptr;
        const long value = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || *end != '\0' || value < 0 || value > 255) return false;
        if (first)
            place->controller = static_cast<int>(value);
        else
            place->ports.push_back(static_cast<int>(value));
        first = false;
    }
    return !first;
}

bool ReadDescriptorFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    const std::string content((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bin") == 0) {
        bytes->assign(content.begin(), content.end());
        return true;
    }
    return ParseHexBytes(content, bytes);
}

class Parser {
public:
    Parser(const std::string& folder, Scene* scene) : folder(folder), scene(scene) {}

    bool Statement(const std::vector<std::string>& words, std::string* problem) {
        const std::string& verb = words[0];
        if (verb == "controller") return Controller(words, problem);
        if (verb == "power-on") return PowerOn(words, problem);
        if (verb == "sleep-power") {
            if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
                return Fail("sleep-power on or off", problem);
            scene->SetSleepPowerOff(words[1] == "off");
            return true;
        }
        if (verb == "hub" || verb == "device" || verb == "camera" || verb == "fault") {
            Place place;
            if (words.size() < 2 || !ParsePlace(words[1], &place)) return Fail("a place", problem);
            if (verb == "fault") return Fault(place, words, problem);
            if (place.ports.empty()) return Fail("a port below the root hub", problem);
            const int port = place.ports.back();
            place.ports.pop_back();
            const HubId parent = HubAt(place);
            if (!parent) return Fail("an existing hub above the place", problem);
            if (verb == "hub") return Hub(parent, port, words, problem);
            return Device(parent, port, verb == "camera", words, problem);
        }
        return Fail("a statement: controller, hub, device, camera, fault, power-on or sleep-power",
                    problem);
    }

private:
    static bool Fail(const char* wanted, std::string* problem) {
        *problem = std::string("expected ") + wanted;
        return false;
    }

    // Options after the place: "key value" pairs.
    static bool Options(const std::vector<std::string>& words, size_t from,
                        std::vector<std::pair<std::string, std::string>>* options) {
        if ((words.size() - from) % 2) return false;
        for (size_t i = from; i < words.size(); i += 2)
            options->push_back({words[i], words[i + 1]});
        return true;
    }

    static bool Number(const std::string& text, int base, long low, long high, long* value) {
        char* end = nullptr;
        *value = std::strtol(text.c_str(), &end, base);
        return !text.empty() && *end == '\0' && *value >= low && *value <= high;
    }

    HubId HubAt(const Place& place) const {
        if (place.controller < 0 || place.controller >= VusbControllerCount ||
            !scene->Hardware().controllers[place.controller].present)
            return 0;
        HubId hub = scene->Hardware().controllers[place.controller].rootHub;
        for (int port : place.ports) {
            const VusbPort* p = VusbFindPort(&scene->Hardware(), hub, port);
            if (!p || p->kind != VusbHubPort) return 0;
            hub = p->target;
        }
        return hub;
    }

    // A hub's options, the root hub's too: "ports <count>" and "name <text>".
    static bool HubOptions(const std::vector<std::string>& words, int* ports, std::string* name,
                           std::string* problem) {
        std::vector<std::pair<std::string, std::string>> options;
        long count = -1;
        if (!Options(words, 2, &options)) return Fail("options in pairs", problem);
        for (const auto& o : options) {
            if (o.first == "ports" && Number(o.second, 10, 0, 255, &count)) continue;
            if (o.first == "name") {
                *name = o.second;
                continue;
            }
            return Fail("ports <0-255> or name <text>", problem);
        }
        if (count < 0) return Fail("a port count", problem);
        *ports = static_cast<int>(count);
        return true;
    }

    bool Controller(const std::vector<std::string>& words, std::string* problem) {
        long number = 0;
        int ports = 0;
        std::string name;
        if (words.size() < 2 || !Number(words[1], 10, 0, VusbControllerCount - 1, &number))
            return Fail("a controller number 0 to 9", problem);
        if (!HubOptions(words, &ports, &name, problem)) return false;
        return scene->AddController(static_cast<int>(number), ports, name) != 0 ||
               Fail("room for another hub", problem);
    }

    bool Hub(HubId parent, int port, const std::vector<std::string>& words, std::string* problem) {
        int ports = 0;
        std::string name;
        if (!HubOptions(words, &ports, &name, problem)) return false;
        return scene->AttachHub(parent, port, ports, name) != 0 ||
               Fail("a port of the hub above", problem);
    }

    bool Device(HubId parent, int port, bool camera, const std::vector<std::string>& words,
                std::string* problem) {
        std::vector<std::pair<std::string, std::string>> options;
        UsbDevice device;
        bool composite = true;
        long value = 0;
        if (!Options(words, 2, &options)) return Fail("options in pairs", problem);
        if (camera) device.vendorId = 0x2F3A;
        for (const auto& o : options) {
            if (o.first == "vendor" && !camera && Number(o.second, 16, 0, 0xFFFF, &value)) {
                device.vendorId = static_cast<unsigned short>(value);
            } else if (o.first == "product" && Number(o.second, 16, 0, 0xFFFF, &value)) {
                device.productId = static_cast<unsigned short>(value);
            } else if (o.first == "status" && Number(o.second, 10, 0, 0x7FFFFFFF, &value)) {
                device.connectionStatus = static_cast<unsigned long>(value);
            } else if (o.first == "descriptors") {
                std::vector<std::uint8_t> bytes;
                if (!ReadDescriptorFile(folder + "/" + o.second, &bytes))
                    return Fail("a readable descriptor file", problem);
                device.configuration.assign(bytes.begin(), bytes.end());
            } else if (o.first == "composite" && camera &&
                       (o.second == "yes" || o.second == "no")) {
                composite = o.second == "yes";
            } else {
                return Fail(camera ? "product, status, descriptors or composite"
                                   : "vendor, product, status or descriptors",
                            problem);
            }
        }
        if (!scene->AttachDevice(parent, port, device))
            return Fail("a port of the hub above", problem);
        if (camera && !scene->SetCamera(parent, port, composite))
            return Fail("one camera", problem);
        return true;
    }

    bool PowerOn(const std::vector<std::string>& words, std::string* problem) {
        long selector = 0, value = 0;
        if (words.size() != 3 || !Number(words[1], 0, 0, 0xFFFF, &selector) ||
            !Number(words[2], 0, 0, 0xFFFF, &value))
            return Fail("a selector and a value, 0 to 65535", problem);
        return scene->SetPowerOn(static_cast<unsigned short>(selector),
                                 static_cast<unsigned short>(value)) ||
               Fail("room for another power-on value", problem);
    }

    bool Fault(const Place& place, const std::vector<std::string>& words, std::string* problem) {
        if (words.size() < 3) return Fail("a fault", problem);
        const std::string& fault = words[2];
        long number = 0;
        const bool hasNumber = words.size() == 4 && Number(words[3], 10, -65536, 65536, &number);
        if (words.size() > 4 || (words.size() == 4 && !hasNumber))
            return Fail("one number", problem);
        // A hub's own faults name the hub's place (a controller's number for its root hub).
        HubFaults hf;
        hf.open = fault == "hub-open";
        hf.nodeInformation = fault == "node-information";
        hf.connectionEx = fault == "hub-connection-ex";
        hf.connection = fault == "hub-connection";
        if (hf.open || hf.nodeInformation || hf.connectionEx || hf.connection) {
            const HubId hub = HubAt(place);
            if (!hub) return Fail("a hub at the place", problem);
            scene->SetHubFaults(hub, hf);
            return true;
        }
        if (place.ports.empty()) {
            ControllerFaults f;
            f.open = fault == "open";
            f.rootNameSize = fault == "root-name-size";
            f.rootName = fault == "root-name";
            if (fault == "root-name-length" && hasNumber) f.rootNameActualLength = number;
            if (!f.open && !f.rootNameSize && !f.rootName && f.rootNameActualLength < 0)
                return Fail("open, root-name-size, root-name or root-name-length <n>", problem);
            scene->SetControllerFaults(place.controller, f);
            return true;
        }
        // A port's faults name the port's place.
        Place parentPlace = place;
        const int port = parentPlace.ports.back();
        parentPlace.ports.pop_back();
        const HubId parent = HubAt(parentPlace);
        PortFaults pf;
        pf.connectionEx = fault == "connection-ex";
        pf.connection = fault == "connection";
        pf.nameSize = fault == "name-size";
        pf.name = fault == "name";
        pf.descriptorHead = fault == "descriptor-head";
        pf.descriptorBody = fault == "descriptor-body";
        const bool counted = hasNumber && (fault == "name-length" || fault == "head-bytes" ||
                                           fault == "body-bytes" || fault == "body-total-length");
        if (fault == "name-length") pf.nameActualLength = number;
        if (fault == "head-bytes") pf.descriptorHeadBytesDelta = number;
        if (fault == "body-bytes") pf.descriptorBodyBytesDelta = number;
        if (fault == "body-total-length") pf.bodyTotalLengthDelta = number;
        if (!counted && !pf.connectionEx && !pf.connection && !pf.nameSize && !pf.name &&
            !pf.descriptorHead && !pf.descriptorBody)
            return Fail("a controller, hub or port fault", problem);
        if (!parent) return Fail("an existing hub above the place", problem);
        scene->SetPortFaults(parent, port, pf);
        return true;
    }

    std::string folder;
    Scene* scene;
};

}  // namespace

bool ParseScene(const std::string& text, const std::string& folder, Scene* scene,
                std::string* error) {
    Parser parser(folder, scene);
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::istringstream stream(line.substr(0, line.find('#')));
        std::vector<std::string> words;
        std::string word;
        while (stream >> word) words.push_back(word);
        if (words.empty()) continue;
        std::string problem;
        if (!parser.Statement(words, &problem)) {
            *error = "line " + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    return true;
}

}  // namespace vcam

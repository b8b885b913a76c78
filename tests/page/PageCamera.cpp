#include "tests/page/PageCamera.h"

#include <cstring>

#include "DLL/camera/UsbLayouts.h"
#include "DLL/props/PropertyTable.h"

PageCamera::PageCamera(const Settings& settings) : m_mark(0) {
    vcam::Reset();
    m_camera = vcam::PlugStandardCamera();
    vcam::RemoveDriverKeys(m_camera.instanceId);
    m_settingsPath = vcam::CreateDriverKeys(m_camera.instanceId);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_settingsPath.c_str(), 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        for (const auto& setting : settings) {
            RegSetValueExA(key, setting.first, 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&setting.second), sizeof(DWORD));
        }
        RegCloseKey(key);
    }
    // The test program carries the page resources itself.
    StartUp(GetModuleHandleA(nullptr));
    Mark();
}

PageCamera::~PageCamera() {
    ShutDown();
    vcam::RemoveDriverKeys(m_camera.instanceId);
}

std::vector<XuWrite> PageCamera::Writes() const {
    std::vector<XuWrite> writes;
    const std::vector<vcam::XuRecord> requests = vcam::XuRequests();
    for (size_t i = m_mark; i < requests.size(); ++i) {
        XuControlRequest request = {};
        const std::vector<unsigned char>& input = requests[i].input;
        std::memcpy(&request, input.data(), input.size() < sizeof(request) ? input.size() : sizeof(request));
        if (request.Direction != 1) continue;
        writes.push_back(XuWrite{request.Selector, request.ControlValue});
    }
    return writes;
}

void PageCamera::Mark() { m_mark = vcam::XuRequests().size(); }

std::vector<unsigned short> PageCamera::ValuesOf(unsigned short selector) const {
    std::vector<unsigned short> values;
    for (const XuWrite& write : Writes()) {
        if (write.selector == selector) values.push_back(write.value);
    }
    return values;
}

long PageCamera::Setting(const char* name) const {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, m_settingsPath.c_str(), name, RRF_RT_REG_DWORD, nullptr,
                     &value, &size) != ERROR_SUCCESS) {
        return -1;
    }
    return static_cast<long>(value);
}

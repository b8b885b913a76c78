#include "Installer/DLL/InstallManifest.h"

const ManifestEntry InstallManifest[] = {
    {SetupProgram, "MERSIVO", ".exe"},
    {SettingsFile, "Installer", ".ini"},
    {ProductFile, "License", ".txt"},
    {ProductFile, "BRALIMOND", ".dll"},
    {MainProgram, "KOVALTIX", ".exe"},
    {ProductFile, "DPInst", ".exe"},
    {SystemFile, "KOVALTIX", ".dll"},
    {DriverInf, "VK4M220FL", ".inf"},
    {DriverFile, "vk4m220flamd64", ".cat"},
    {DriverFile, "VK4M220FLamd64", ".sys"},
    {DriverFile, "VK4M220FUamd64", ".sys"},
    {DriverFile, "vk4m220flx86", ".cat"},
    {DriverFile, "VK4M220FLx86", ".sys"},
    {DriverFile, "VK4M220FUx86", ".sys"},
    {DriverFile, "Driver_Release", ".txt"},
    {EndOfManifest, nullptr, nullptr},
};

const ManifestEntry* FindManifestEntry(std::int32_t kind)
{
    for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e)
        if (e->kind == kind)
            return e;
    return nullptr;
}

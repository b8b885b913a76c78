#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "DLL/props/KOVALTIX.h"
#include "tests/common/TestPaths.h"
#include "VirtualCamera/VirtualCamera.h"
#include <cstring>

namespace {

bool MessageNameRegistered(const char* name) {
    char text[64];
    for (UINT id = 0xC000; id <= 0xFFFF; ++id) {
        if (GetClipboardFormatNameA(id, text, sizeof(text)) > 0 && std::string(text) == name)
            return true;
    }
    return false;
}

// This program imports the shipped KOVALTIX.dll, which finds no camera here.
TEST(ShippedLibrary, LoadsInertWithoutACamera) {
    EXPECT_NE(nullptr, GetModuleHandleA("KOVALTIX.dll"));
    EXPECT_TRUE(MessageNameRegistered("KOVALTIX_UPDATEPORPERTY"));
    KOVALTIX* k = new KOVALTIX;
    PROPDATA a, r, g, b;
    std::memset(&a, 0xFF, sizeof(a));
    std::memset(&g, 0xFF, sizeof(g));
    EXPECT_TRUE(k->Get_WhiteBalance(&a, &r, &g, &b));
    PROPDATA records[13];
    std::memset(records, 0xFF, sizeof(records));
    EXPECT_TRUE(k->Get_WhiteBalance(&records[0], &records[1], &records[2], &records[3]));
    EXPECT_TRUE(k->Get_Exposure(&records[4], &records[5]));
    EXPECT_TRUE(k->Get_Gain(&records[6], &records[7]));
    EXPECT_TRUE(k->Get_PowerLine(&records[8]));
    EXPECT_TRUE(k->Get_Flip(&records[9]));
    EXPECT_TRUE(k->Get_Mirror(&records[10]));
    EXPECT_TRUE(k->Get_PrivateMode(&records[11]));
    EXPECT_TRUE(k->Get_LowLightMode(&records[12]));
    for (const PROPDATA& p : records) {
        EXPECT_EQ(0, p.Min | p.Max | p.Value | p.Def | p.Enb);
    }
    EXPECT_TRUE(k->Set_WhiteBalance(1, 2, 3, 4));
    EXPECT_TRUE(k->Set_Gain(0, 10));
    EXPECT_TRUE(k->Reset_Exposure());
    EXPECT_TRUE(k->Reset_PowerLine());
    char title[16] = "untouched";
    EXPECT_EQ(nullptr, k->CreateExtensionPropDialog(nullptr, title, sizeof(title)));
    EXPECT_STREQ("untouched", title);
    EXPECT_EQ(nullptr, k->GetExtensionPropDialogHandle());
    KOVALTIX other;
    other = *k;
    delete k;
}

// The demo build of the same code, over the virtual camera, reached only through its exports.
struct DemoLibrary {
    HMODULE module = nullptr;
    void (*construct)(void*) = nullptr;
    void (*destruct)(void*) = nullptr;
    bool (*setFlip)(void*, long) = nullptr;
    bool (*getFlip)(void*, PROPDATA*) = nullptr;
    bool (*resetFlip)(void*) = nullptr;
    template <typename F>
    void Bind(F& f, const char* name) {
        f = reinterpret_cast<F>(GetProcAddress(module, name));
    }
};

// Where the demo's virtual camera keeps its driver instance's settings.
bool StoredFlip(DWORD* value) {
    std::string path = std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") +
                       vcam::StandardDriverKey + "\\Settings";
    DWORD size = sizeof(*value), type = 0;
    return RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), "FlipEx", RRF_RT_ANY, &type, value,
                        &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

TEST(DemoLibrary, SetsAndResetsThroughTheExportedMembers) {
    DemoLibrary lib;
    std::string path = BinFolder() + "KOVALTIXV.dll";
    lib.module = LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, lib.module);
    lib.Bind(lib.construct, "_ZN8KOVALTIXC1Ev");
    lib.Bind(lib.destruct, "_ZN8KOVALTIXD1Ev");
    lib.Bind(lib.setFlip, "_ZN8KOVALTIX8Set_FlipEl");
    lib.Bind(lib.getFlip, "_ZN8KOVALTIX8Get_FlipEP8PROPDATA");
    lib.Bind(lib.resetFlip, "_ZN8KOVALTIX10Reset_FlipEv");
    ASSERT_TRUE(lib.construct && lib.destruct && lib.setFlip && lib.getFlip && lib.resetFlip);

    alignas(void*) unsigned char object[3 * sizeof(void*)];
    lib.construct(object);
    EXPECT_NE(nullptr, *reinterpret_cast<HANDLE*>(object)) << "the demo camera is present";
    PROPDATA flip{};
    EXPECT_TRUE(lib.getFlip(object, &flip));
    EXPECT_EQ(1, flip.Enb);
    EXPECT_EQ(1, flip.Max);
    EXPECT_TRUE(lib.setFlip(object, 1));
    EXPECT_TRUE(lib.getFlip(object, &flip));
    EXPECT_EQ(1, flip.Value);
    DWORD stored = 0;
    EXPECT_TRUE(StoredFlip(&stored));
    EXPECT_EQ(1u, stored);
    EXPECT_TRUE(lib.resetFlip(object));
    EXPECT_TRUE(lib.getFlip(object, &flip));
    EXPECT_EQ(flip.Def, flip.Value);
    lib.destruct(object);
    FreeLibrary(lib.module);
}

}  // namespace

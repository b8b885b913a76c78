#include <atomic>
#include <cstring>
#include <thread>
#include <vector>
#include "DLL/camera/DeviceChannel.h"
#include "tests/common/HandleCount.h"
#include "tests/common/TestPaths.h"
#include "tests/props/PropsFixture.h"

namespace {

using ControlClassTest = CameraTest;

// The instance marker is the first of the object's three pointer-wide members.
HANDLE MarkerOf(KOVALTIX& object) { return *reinterpret_cast<HANDLE*>(&object); }

bool LiveInstanceExists() {
    HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, "KOVALTIX");
    if (!h) return false;
    CloseHandle(h);
    return true;
}

TEST_F(ControlClassTest, AutoFlagsSendDefaultsAndIgnoreManualValues) {
    StoreDword("ExposureExDef", 300);
    StoreDword("WBGreenExEnb", 1);
    RunStartUp();
    KOVALTIX k;
    EXPECT_TRUE(k.Set_Exposure(1, 100));
    EXPECT_EQ((XuWrites{{0x2B, 1}, {0x2A, 300}}), Writes());
    Mark();
    EXPECT_TRUE(k.Set_Exposure(0, 100));
    EXPECT_EQ((XuWrites{{0x2B, 0}, {0x2A, 100}}), Writes());
    DWORD v = 0;
    EXPECT_TRUE(StoredDword("ExposureEx", &v));
    EXPECT_EQ(100u, v);
    EXPECT_TRUE(StoredDword("AECEx", &v));
    EXPECT_EQ(0u, v);

    Mark();
    EXPECT_TRUE(k.Set_WhiteBalance(1, 10, 20, 30));
    EXPECT_EQ((XuWrites{{0x29, 1}, {0x26, 127}, {0x27, 127}, {0x28, 127}}), Writes());
    Mark();
    EXPECT_TRUE(k.Set_Gain(5, 1));  // any non-zero auto flag counts
    EXPECT_EQ((XuWrites{{0x2D, 5}, {0x2C, 63}}), Writes());
    EXPECT_EQ(5, ExtensionPropertyTable[PropAutoGain].Value);
}

TEST_F(ControlClassTest, DisabledRecordsAreSkippedAndCountAsSuccess) {
    StoreDword("AGCExEnb", 0);
    StoreDword("AGCEx", 0);
    RunStartUp();
    KOVALTIX k;
    EXPECT_TRUE(k.Set_Gain(1, 5));
    EXPECT_EQ((XuWrites{{0x2C, 63}}), Writes()) << "the auto argument still chooses the default";
    EXPECT_EQ(0, ExtensionPropertyTable[PropAutoGain].Value);
    DWORD v;
    EXPECT_FALSE(StoredDword("AGCEx", &v) && v != 0);

    Mark();
    // Green falls back to disabled: it is neither stored, sent nor written.
    EXPECT_TRUE(k.Set_WhiteBalance(0, 10, 20, 30));
    EXPECT_EQ((XuWrites{{0x29, 0}, {0x26, 10}, {0x28, 30}}), Writes());
    EXPECT_EQ(127, ExtensionPropertyTable[PropWhiteBalanceGreen].Value);
    EXPECT_FALSE(StoredDword("WBGreenEx", &v));
    EXPECT_TRUE(StoredDword("WBBlueEx", &v));
    EXPECT_EQ(30u, v);
}

TEST_F(ControlClassTest, ValuesAreNotRangeCheckedAndOnlyTheLow16BitsTravel) {
    RunStartUp();
    KOVALTIX k;
    EXPECT_TRUE(k.Set_Flip(7));
    EXPECT_TRUE(k.Set_Mirror(-1));
    EXPECT_TRUE(k.Set_PowerLine(0x12345));
    EXPECT_TRUE(k.Set_PrivateMode(1));
    EXPECT_TRUE(k.Set_LowLightMode(0));
    EXPECT_EQ((XuWrites{{0x30, 7}, {0x31, 0xFFFF}, {0x2E, 0x2345}, {0x32, 1}, {0x33, 0}}),
              Writes());
    DWORD v;
    ASSERT_TRUE(StoredDword("MirrorEx", &v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    ASSERT_TRUE(StoredDword("FlipEx", &v));
    EXPECT_EQ(7u, v);
    ASSERT_TRUE(StoredDword("PowerLineEx", &v));
    EXPECT_EQ(0x12345u, v);
    PROPDATA mirror{};
    EXPECT_TRUE(k.Get_Mirror(&mirror));
    EXPECT_EQ(-1, mirror.Value);
    EXPECT_EQ(0, mirror.Min);
    EXPECT_EQ(1, mirror.Max);
}

TEST_F(ControlClassTest, ResetSendsEveryEnabledRecordItsOwnDefault) {
    StoreDword("AWBExDef", 0);
    StoreDword("WBRedExDef", 10);
    StoreDword("WBBlueExDef", 20);
    StoreDword("AECExDef", 1);
    StoreDword("ExposureExDef", 90);
    StoreDword("PowerLineExDef", 1);
    StoreDword("NightModeExDef", 0);
    RunStartUp();
    KOVALTIX k;
    k.Set_WhiteBalance(0, 1, 2, 3);
    Mark();
    EXPECT_TRUE(k.Reset_WhiteBalance());
    EXPECT_TRUE(k.Reset_Exposure());
    EXPECT_TRUE(k.Reset_Gain());
    EXPECT_TRUE(k.Reset_PowerLine());
    EXPECT_TRUE(k.Reset_Flip());
    EXPECT_TRUE(k.Reset_Mirror());
    EXPECT_TRUE(k.Reset_PrivateMode());
    EXPECT_TRUE(k.Reset_LowLightMode());
    EXPECT_EQ((XuWrites{{0x29, 0},
                        {0x26, 10},
                        {0x28, 20},
                        {0x2B, 1},
                        {0x2A, 90},
                        {0x2D, 1},
                        {0x2C, 63},
                        {0x2E, 1},
                        {0x30, 0},
                        {0x31, 0},
                        {0x32, 0},
                        {0x33, 0}}),
              Writes());
    for (int i = 0; i < PropertyCount; ++i) {
        if (i == PropWhiteBalanceGreen) continue;
        DWORD v;
        SCOPED_TRACE(PropertyInfoTable[i].baseName);
        ASSERT_TRUE(StoredDword(PropertyInfoTable[i].baseName, &v));
        EXPECT_EQ(static_cast<DWORD>(ExtensionPropertyTable[i].Def), v);
        EXPECT_EQ(ExtensionPropertyTable[i].Def, ExtensionPropertyTable[i].Value);
    }
}

class StandardPowerLineClassTest : public CameraTest {
protected:
    StandardPowerLineClassTest() : CameraTest(WithStandardPowerLine()) {}
};

TEST_F(StandardPowerLineClassTest, WithdrawnPowerLineResetsWithoutSending) {
    RunStartUp();
    KOVALTIX k;
    EXPECT_TRUE(k.Reset_PowerLine());
    EXPECT_TRUE(k.Set_PowerLine(1));
    EXPECT_TRUE(Writes().empty());
}

TEST_F(ControlClassTest, FailingRequestStillAppliesTheRestAndSkipsItsWrite) {
    RunStartUp();
    KOVALTIX k;
    vcam::FailNth(vcam::Request::XuControl, 1);
    EXPECT_FALSE(k.Set_WhiteBalance(0, 10, 20, 30));
    EXPECT_EQ((XuWrites{{0x29, 0}, {0x26, 10}, {0x28, 30}}), Writes());
    EXPECT_EQ(0, ExtensionPropertyTable[PropAutoWhiteBalance].Value) << "memory keeps the value";
    DWORD v;
    EXPECT_FALSE(StoredDword("AWBEx", &v)) << "the registry keeps the old (absent) value";
    EXPECT_TRUE(StoredDword("WBRedEx", &v));
    EXPECT_TRUE(StoredDword("WBBlueEx", &v));

    // A driver that reports bytes for a write without data did not take it as asked.
    vcam::SetXuResponse(true, 2);
    EXPECT_FALSE(k.Set_Flip(1));
    EXPECT_FALSE(StoredDword("FlipEx", &v));
    vcam::SetXuResponse(true);
    EXPECT_TRUE(k.Set_Flip(1));
}

TEST_F(ControlClassTest, FailingRegistryWriteIsReported) {
    RunStartUp();
    KOVALTIX k;
    // The key goes away under the open handle: every later write fails.
    vcam::RemoveDriverKeys(camera.instanceId);
    EXPECT_FALSE(k.Set_Flip(1));
    EXPECT_EQ((XuWrites{{0x30, 1}}), Writes()) << "the camera already has it";
    EXPECT_EQ(1, ExtensionPropertyTable[PropFlip].Value);
}

// The host keeps running while the camera is pulled out and put back (the standard camera's
// capture interface is the model's first).
TEST_F(ControlClassTest, ACameraPutBackTakesTheNextSetWithoutARestart) {
    RunStartUp();
    vcam::PullCaptureInterface(0);
    KOVALTIX k;
    EXPECT_NE(nullptr, MarkerOf(k)) << "a camera out for a while is not one absent at load";
    EXPECT_FALSE(k.Set_Flip(1));
    EXPECT_FALSE(k.Set_Gain(0, 40));
    EXPECT_TRUE(Writes().empty());
    DWORD v;
    EXPECT_FALSE(StoredDword("FlipEx", &v));
    vcam::PutCaptureInterfaceBack(0);
    EXPECT_TRUE(k.Set_Flip(1));
    EXPECT_EQ((XuWrites{{0x30, 1}}), Writes());
    EXPECT_EQ(1, vcam::XuValue(0x30));
    EXPECT_EQ(1, Setting("FlipEx"));
    // Back, the camera holds what its driver restored from the key, not what was set while it
    // was out; the records, which the page shows, follow it.
    const PROPDATA* t = ExtensionPropertyTable;
    EXPECT_EQ(vcam::XuValue(0x2D), t[PropAutoGain].Value);
    EXPECT_EQ(vcam::XuValue(0x2C), t[PropGain].Value);
    EXPECT_EQ(63, t[PropGain].Value);
    EXPECT_EQ(1, t[PropFlip].Value);
}

TEST_F(ControlClassTest, NoCameraMakesEveryObjectInert) {
    vcam::Reset();
    RunStartUp();
    KOVALTIX k;
    EXPECT_EQ(nullptr, MarkerOf(k));
    EXPECT_FALSE(LiveInstanceExists());
    PROPDATA a{1, 1, 1, 1, 1}, g{1, 1, 1, 1, 1};
    EXPECT_TRUE(k.Get_Gain(&a, &g));
    EXPECT_EQ(0, a.Min | a.Max | a.Value | a.Def | a.Enb);
    EXPECT_EQ(0, g.Min | g.Max | g.Value | g.Def | g.Enb);
    EXPECT_TRUE(k.Set_Gain(0, 10));
    EXPECT_TRUE(k.Set_WhiteBalance(0, 1, 2, 3));
    EXPECT_TRUE(k.Reset_WhiteBalance());
    EXPECT_TRUE(k.Reset_LowLightMode());
    EXPECT_TRUE(vcam::XuRequests().empty());
    char title[8] = "keep";
    EXPECT_EQ(nullptr, k.CreateExtensionPropDialog(nullptr, title, sizeof(title)));
    EXPECT_STREQ("keep", title);
}

TEST_F(ControlClassTest, NullRecordPointersAreRefused) {
    RunStartUp();
    KOVALTIX k;
    PROPDATA a{};
    EXPECT_FALSE(k.Get_Gain(&a, nullptr));
    EXPECT_FALSE(k.Get_WhiteBalance(&a, &a, nullptr, &a));
    EXPECT_FALSE(k.Get_Flip(nullptr));
}

TEST_F(ControlClassTest, OneLiveInstanceWithinAProcess) {
    RunStartUp();
    const int handlesBefore = OpenHandleCount();
    {
        auto* first = new KOVALTIX;
        KOVALTIX second;
        EXPECT_NE(nullptr, MarkerOf(*first));
        EXPECT_EQ(nullptr, MarkerOf(second));
        EXPECT_TRUE(second.Set_Flip(1));
        EXPECT_EQ((XuWrites{{0x30, 1}}), Writes()) << "an inert object still reaches the camera";
        delete first;
        EXPECT_FALSE(LiveInstanceExists());
        KOVALTIX third;
        EXPECT_NE(nullptr, MarkerOf(third));
        EXPECT_TRUE(LiveInstanceExists());
    }
    EXPECT_FALSE(LiveInstanceExists());
    EXPECT_EQ(handlesBefore, OpenHandleCount());
}

TEST_F(ControlClassTest, AssignmentLeavesOneOwnerOfEachHandle) {
    RunStartUp();
    const int handlesBefore = OpenHandleCount();
    {
        KOVALTIX live;
        KOVALTIX inert;
        HANDLE marker = MarkerOf(live);
        ASSERT_NE(nullptr, marker);
        inert = live;
        EXPECT_EQ(nullptr, MarkerOf(inert));
        EXPECT_EQ(marker, MarkerOf(live));
        live = live;
        EXPECT_EQ(marker, MarkerOf(live));
        live = inert;  // the live object gives its marker up
        EXPECT_EQ(nullptr, MarkerOf(live));
        EXPECT_FALSE(LiveInstanceExists());
        KOVALTIX next;
        EXPECT_NE(nullptr, MarkerOf(next));
    }
    EXPECT_EQ(handlesBefore, OpenHandleCount());
}

TEST_F(ControlClassTest, ConcurrentSetsNeverInterleaveAndLeaveTheRegistryConsistent) {
    StoreDword("WBGreenExEnb", 1);
    RunStartUp();
    vcam::SetXuHoldMicroseconds(200);
    constexpr int Threads = 4, Rounds = 40;
    std::atomic<bool> allOk{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t, &allOk] {
            KOVALTIX k;
            for (int i = 0; i < Rounds; ++i) {
                bool ok = k.Set_WhiteBalance(0, t * 50 + i, i, 255 - i);
                ok &= k.Set_Gain(0, (t + i) % 128);
                ok &= k.Set_Exposure(i % 2, 1 + t * 100 + i);
                ok &= k.Set_Flip((t + i) % 2);
                ok &= k.Set_Mirror(t);
                if (!ok) allOk = false;
            }
        });
    }
    for (auto& th : threads) th.join();
    vcam::SetXuHoldMicroseconds(0);
    EXPECT_TRUE(allOk);
    EXPECT_EQ(0, vcam::XuOverlaps());
    auto writes = Writes();
    EXPECT_EQ(static_cast<size_t>(Threads * Rounds * 10), writes.size());  // 4 + 2 + 2 + 1 + 1
    for (int i = 0; i < PropertyCount; ++i) {
        const PROPDATA& r = ExtensionPropertyTable[i];
        const PropertyInfo& info = PropertyInfoTable[i];
        DWORD stored;
        if (!StoredDword(info.baseName, &stored)) continue;
        SCOPED_TRACE(info.baseName);
        EXPECT_EQ(static_cast<DWORD>(r.Value), stored);
        bool known = false;
        EXPECT_EQ(static_cast<unsigned short>(r.Value & 0xFFFF),
                  vcam::XuValue(info.selector, &known));
        EXPECT_TRUE(known);
    }
}

// Counts writes that land in the property table while its pages are read-only; a write (to
// the table or to anything sharing its pages) makes them writable again and goes through.
struct TableWriteWatch {
    static int writes;
    static ULONG_PTR PagesBegin() {
        return reinterpret_cast<ULONG_PTR>(ExtensionPropertyTable) & ~ULONG_PTR(0xFFF);
    }
    static ULONG_PTR PagesEnd() {
        return (reinterpret_cast<ULONG_PTR>(ExtensionPropertyTable + PropertyCount) + 0xFFF) &
               ~ULONG_PTR(0xFFF);
    }
    static void Protect(DWORD protection) {
        DWORD old = 0;
        VirtualProtect(ExtensionPropertyTable, sizeof ExtensionPropertyTable, protection, &old);
    }
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
        const EXCEPTION_RECORD& e = *info->ExceptionRecord;
        if (e.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || e.NumberParameters < 2 ||
            e.ExceptionInformation[0] != 1 || e.ExceptionInformation[1] < PagesBegin() ||
            e.ExceptionInformation[1] >= PagesEnd())
            return EXCEPTION_CONTINUE_SEARCH;
        const auto table = reinterpret_cast<ULONG_PTR>(ExtensionPropertyTable);
        if (e.ExceptionInformation[1] - table < sizeof ExtensionPropertyTable) ++writes;
        Protect(PAGE_READWRITE);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
};
int TableWriteWatch::writes = 0;

TEST_F(ControlClassTest, GetIntoTheRecordsThemselvesLeavesThemUnwritten) {
    // The page reloads through Get_ with the table's own records as destinations, without the
    // apply lock: a rewrite could put back a value that a host thread's Set_ just replaced.
    RunStartUp();
    KOVALTIX k;
    ASSERT_TRUE(k.Set_Gain(0, 20));
    PROPDATA* t = ExtensionPropertyTable;
    PVOID handler = AddVectoredExceptionHandler(1, &TableWriteWatch::Handler);
    ASSERT_NE(nullptr, handler);
    TableWriteWatch::writes = 0;
    TableWriteWatch::Protect(PAGE_READONLY);
    bool ok = k.Get_WhiteBalance(&t[PropAutoWhiteBalance], &t[PropWhiteBalanceRed],
                                 &t[PropWhiteBalanceGreen], &t[PropWhiteBalanceBlue]);
    ok &= k.Get_Exposure(&t[PropAutoExposure], &t[PropExposure]);
    ok &= k.Get_Gain(&t[PropAutoGain], &t[PropGain]);
    ok &= k.Get_PowerLine(&t[PropPowerLine]);
    ok &= k.Get_Flip(&t[PropFlip]);
    ok &= k.Get_Mirror(&t[PropMirror]);
    ok &= k.Get_PrivateMode(&t[PropPrivacy]);
    ok &= k.Get_LowLightMode(&t[PropLowLight]);
    TableWriteWatch::Protect(PAGE_READWRITE);
    RemoveVectoredExceptionHandler(handler);
    EXPECT_TRUE(ok);
    EXPECT_EQ(0, TableWriteWatch::writes);
    EXPECT_EQ(20, t[PropGain].Value);

    // Any other destination still gets a copy of all five fields.
    PROPDATA autoGain{}, gain{};
    EXPECT_TRUE(k.Get_Gain(&autoGain, &gain));
    EXPECT_EQ(0, std::memcmp(&gain, &t[PropGain], sizeof gain));
    EXPECT_EQ(0, std::memcmp(&autoGain, &t[PropAutoGain], sizeof autoGain));
}

// ---- Across processes: this program re-runs itself as the second process. ----

const char ChildRoleVariable[] = "KOVALTIX_TEST_CHILD";
constexpr int ChildLive = 10, ChildInert = 20;

// In the child: the same camera and registry, its own start-up and object.
TEST_F(ControlClassTest, TheRegistryGetsTheValueTheCameraTook) {
    RunStartUp();
    KOVALTIX k;
    const PROPDATA before = ExtensionPropertyTable[PropPowerLine];
    ASSERT_EQ(2, before.Value);
    // Another thread puts the old record back while the request is out: the registry still gets
    // the value the camera took.
    vcam::SetXuHoldMicroseconds(200000);
    const size_t sent = vcam::XuRequests().size();
    std::thread reload([&] {
        while (vcam::XuRequests().size() == sent) Sleep(1);
        ExtensionPropertyTable[PropPowerLine] = before;
    });
    EXPECT_TRUE(k.Set_PowerLine(1));
    reload.join();
    vcam::SetXuHoldMicroseconds(0);
    DWORD stored = 0;
    ASSERT_TRUE(StoredDword("PowerLineEx", &stored));
    EXPECT_EQ(1u, stored);
    EXPECT_EQ(1, vcam::XuValue(PropertyInfoTable[PropPowerLine].selector));
}

TEST(ChildRole, Run) {
    char role[16] = "";
    if (!GetEnvironmentVariableA(ChildRoleVariable, role, sizeof(role))) GTEST_SKIP();
    vcam::Reset();
    vcam::StandardCamera plugged = vcam::PlugStandardCamera();
    vcam::CreateDriverKeys(plugged.instanceId);
    StartUp(GetModuleHandleA(nullptr));
    int code;
    {
        KOVALTIX k;
        code = MarkerOf(k) ? ChildLive : ChildInert;
        if (std::string(role) == "hold") {
            HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "KovaltixTestChildReady");
            HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "KovaltixTestChildRelease");
            if (ready) SetEvent(ready);
            if (release) WaitForSingleObject(release, 30000);
            if (ready) CloseHandle(ready);
            if (release) CloseHandle(release);
        }
    }
    ShutDown();
    ExitProcess(code);
}

class Child {
public:
    explicit Child(const char* role) {
        std::string cmd = "\"" + BinFolder() + "test_props.exe\" --gtest_filter=ChildRole.Run";
        SetEnvironmentVariableA(ChildRoleVariable, role);
        // The child's report stays out of ours: only its exit code counts.
        SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
        HANDLE nul =
            CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = nul;
        started = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                                 &pi) != FALSE;
        if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
        SetEnvironmentVariableA(ChildRoleVariable, nullptr);
    }
    ~Child() {
        if (started) {
            WaitForSingleObject(pi.hProcess, 30000);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
    int Wait() {
        if (!started || WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        return static_cast<int>(code);
    }
    bool started = false;
    PROCESS_INFORMATION pi{};
};

TEST_F(ControlClassTest, OneLiveInstanceAcrossProcesses) {
    RunStartUp();
    {
        KOVALTIX live;
        ASSERT_NE(nullptr, MarkerOf(live));
        Child probe("probe");
        ASSERT_TRUE(probe.started);
        EXPECT_EQ(ChildInert, probe.Wait()) << "this process holds the live instance";
    }
    {
        Child probe("probe");
        EXPECT_EQ(ChildLive, probe.Wait()) << "the live instance is gone";
    }
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "KovaltixTestChildReady");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "KovaltixTestChildRelease");
    {
        Child holder("hold");
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 30000));
        {
            KOVALTIX k;
            EXPECT_EQ(nullptr, MarkerOf(k)) << "the other process holds the live instance";
        }
        SetEvent(release);
        EXPECT_EQ(ChildLive, holder.Wait());
    }
    KOVALTIX after;
    EXPECT_NE(nullptr, MarkerOf(after));
    CloseHandle(ready);
    CloseHandle(release);
}

}  // namespace

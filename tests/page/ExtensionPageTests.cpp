// The page as a host embeds it and a user drives it, checked at the camera and in the registry.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "DLL/page/ExtensionPage.h"
#include "DLL/props/KOVALTIX.h"
#include "DLL/props/PropertyTable.h"
#include "tests/common/HandleCount.h"
#include "tests/common/CameraScene.h"
#include "tests/page/PageTestHost.h"

namespace {

using Values = std::vector<unsigned short>;

class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterTrackbarClass();
        SharedHostWindow();
        PumpMessages();
        OpenLastingHandles();
        handlesAtStart = OpenHandleCount();
    }

    // The class's life with its page, start-up and detach leave no kernel handle open.
    void TearDown() override {
        owner.reset();
        PumpMessages();
        camera.reset();
        EXPECT_EQ(handlesAtStart, OpenHandleCount()) << "kernel handles left open";
    }

    // Starts the camera with these Settings values and makes the live instance.
    void Start(const CameraScene::Settings& settings = {}) {
        camera = std::make_unique<CameraScene>(settings);
        owner = std::make_unique<KOVALTIX>();
    }

    HWND Open() {
        char title[64] = {};
        page = owner->CreateExtensionPropDialog(SharedHostWindow(), title, sizeof(title));
        pageTitle = title;
        PumpMessages();
        camera->Mark();
        return page;
    }

    HWND Item(int id) const { return GetDlgItem(page, id); }
    bool Checked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    // What the user sees of a slider: thumb, number, and whether it can be used.
    void ExpectSlider(int trackbarId, int editId, int value, bool usable) const {
        EXPECT_EQ(TrackbarPos(Item(trackbarId)), value) << "trackbar " << trackbarId;
        EXPECT_EQ(WindowText(Item(editId)), std::to_string(value)) << "edit box " << editId;
        EXPECT_EQ(IsUsable(Item(trackbarId)), usable) << "trackbar " << trackbarId;
        EXPECT_EQ(IsUsable(Item(editId)), usable) << "edit box " << editId;
    }
    void Drag(int trackbarId, int dx) {
        HWND trackbar = Item(trackbarId);
        POINT point = ThumbCenter(trackbar);
        PressAt(trackbar, point);
        point.x += dx;
        MoveTo(trackbar, point);
        ReleaseAt(trackbar, point);
    }

    std::unique_ptr<CameraScene> camera;
    std::unique_ptr<KOVALTIX> owner;
    HWND page = nullptr;
    std::string pageTitle;
    int handlesAtStart = -1;
};

const CameraScene::Settings ManualEverything = {
    {"AWBEx", 0},        {"WBRedEx", 10}, {"WBBlueEx", 30}, {"AECEx", 0},
    {"ExposureEx", 100}, {"AGCEx", 0},    {"GainEx", 20},
};

TEST_F(PageTest, OpensShowingTheRecordsWithoutSendingAnything) {
    Start();
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(owner->GetExtensionPropDialogHandle(), page);
    EXPECT_EQ(GetParent(page), SharedHostWindow());
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_EQ(pageTitle, "Advanced Setting");
    EXPECT_TRUE(vcam::XuRequests().empty());

    // Every group is in its fallback state: auto on, so the manual sliders are not usable.
    EXPECT_TRUE(Checked(IDC_WB_AUTO));
    EXPECT_TRUE(IsUsable(Item(IDC_WB_AUTO)));
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 127, false);
    ExpectSlider(IDC_WB_BLUE_SLIDER, IDC_WB_BLUE_EDIT, 127, false);
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 255, false);
    ExpectSlider(IDC_GAIN_SLIDER, IDC_GAIN_EDIT, 63, false);
    EXPECT_EQ(SendMessageA(Item(IDC_EXPOSURE_SLIDER), TBM_GETRANGEMIN, 0, 0), 1);
    EXPECT_EQ(SendMessageA(Item(IDC_EXPOSURE_SLIDER), TBM_GETRANGEMAX, 0, 0), 500);
    EXPECT_TRUE(Checked(IDC_POWERLINE_60HZ));
    EXPECT_FALSE(Checked(IDC_POWERLINE_OUTDOOR));
    EXPECT_TRUE(IsUsable(Item(IDC_POWERLINE_LABEL)));
    EXPECT_FALSE(Checked(IDC_FLIP));
    EXPECT_TRUE(Checked(IDC_LOWLIGHT));
    for (int id : {IDC_FLIP, IDC_MIRROR, IDC_PRIVACY, IDC_LOWLIGHT, IDC_DEFAULT}) {
        EXPECT_TRUE(IsUsable(Item(id))) << id;
    }
}

TEST_F(PageTest, EveryWayOfMovingTheThumbReachesSetExposure) {
    Start(ManualEverything);
    ASSERT_NE(Open(), nullptr);
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 100, true);
    HWND trackbar = Item(IDC_EXPOSURE_SLIDER);
    // Thumb, edit box and camera tell the same number.
    auto expectAgreement = [&](const char* after) {
        const int thumb = TrackbarPos(trackbar);
        EXPECT_EQ(WindowText(Item(IDC_EXPOSURE_EDIT)), std::to_string(thumb)) << after;
        EXPECT_EQ(camera->Setting("ExposureEx"), thumb) << after;
    };

    // Press, two moves (the second to the same place), release: four Set_Exposure calls.
    POINT point = ThumbCenter(trackbar);
    PressAt(trackbar, point);
    point.x += 25;
    MoveTo(trackbar, point);
    MoveTo(trackbar, point);
    ReleaseAt(trackbar, point);
    const int dragged = TrackbarPos(trackbar);
    ASSERT_GT(dragged, 100);
    EXPECT_EQ(camera->ValuesOf(SelAutoExposure), Values(4, 0));
    const Values exposures = camera->ValuesOf(SelExposure);
    ASSERT_EQ(exposures.size(), 4u);
    EXPECT_EQ(exposures.front(), 100);
    EXPECT_EQ(exposures.back(), dragged);
    expectAgreement("drag");

    camera->Mark();
    PressKey(trackbar, VK_RIGHT);
    PressKey(trackbar, VK_RIGHT);
    PressKey(trackbar, VK_LEFT);
    EXPECT_EQ(camera->ValuesOf(SelExposure), (Values{static_cast<unsigned short>(dragged + 1),
                                                     static_cast<unsigned short>(dragged + 2),
                                                     static_cast<unsigned short>(dragged + 1)}));
    expectAgreement("left and right");

    // Each of the other keys moves the thumb and sends its new position once.
    for (UINT key : {VK_UP, VK_DOWN, VK_PRIOR, VK_NEXT, VK_HOME, VK_END}) {
        camera->Mark();
        const int before = TrackbarPos(trackbar);
        PressKey(trackbar, key);
        const int after = TrackbarPos(trackbar);
        EXPECT_NE(after, before) << "key " << key;
        EXPECT_EQ(camera->ValuesOf(SelExposure), Values{static_cast<unsigned short>(after)})
            << "key " << key;
        expectAgreement("a key");
    }
    // The next arrow key goes on from where the last one left the thumb (End: the maximum).
    camera->Mark();
    PressKey(trackbar, VK_LEFT);
    EXPECT_EQ(camera->ValuesOf(SelExposure), Values{499});

    const POINT center = ThumbCenter(trackbar);
    SendMessageA(trackbar, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA),
                 MAKELPARAM(center.x, center.y));
    SendMessageA(trackbar, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA),
                 MAKELPARAM(center.x, center.y));
    expectAgreement("the wheel");

    // The capture goes elsewhere in mid-drag (Alt+Tab) and no button-up ever comes: the drag is
    // over, and the mouse passing over the trackbar afterwards sends nothing.
    point = ThumbCenter(trackbar);
    PressAt(trackbar, point);
    point.x -= 20;
    MoveTo(trackbar, point);
    ReleaseCapture();
    camera->Mark();
    for (int dx : {-15, 30, -40}) {
        point.x += dx;
        SendMessageA(trackbar, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y));
    }
    EXPECT_TRUE(camera->Writes().empty());
    expectAgreement("a lost drag");
}

TEST_F(PageTest, GainAndWhiteBalanceSlidersReachTheirGroups) {
    Start(ManualEverything);
    ASSERT_NE(Open(), nullptr);
    PressKey(Item(IDC_GAIN_SLIDER), VK_RIGHT);
    EXPECT_EQ(camera->ValuesOf(SelAutoGain), Values{0});
    EXPECT_EQ(camera->ValuesOf(SelGain), Values{21});
    EXPECT_EQ(camera->Setting("GainEx"), 21);

    camera->Mark();
    Drag(IDC_WB_BLUE_SLIDER, -10);
    const int blue = TrackbarPos(Item(IDC_WB_BLUE_SLIDER));
    ASSERT_LT(blue, 30);
    EXPECT_EQ(camera->ValuesOf(SelAutoWhiteBalance), Values(3, 0));
    EXPECT_EQ(camera->ValuesOf(SelRed), Values(3, 10));
    const Values blues = camera->ValuesOf(SelBlue);
    ASSERT_EQ(blues.size(), 3u);
    EXPECT_EQ(blues.back(), blue);
    EXPECT_TRUE(camera->ValuesOf(SelGreen).empty());  // green falls back to disabled
    EXPECT_EQ(camera->Setting("WBBlueEx"), blue);
}

TEST_F(PageTest, AutoBoxesSendDefaultsAndLockTheSlidersUntickingSendsThePositions) {
    CameraScene::Settings settings = ManualEverything;
    settings.push_back({"WBGreenExEnb", 1});
    settings.push_back({"WBGreenEx", 99});
    Start(settings);
    ASSERT_NE(Open(), nullptr);
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 10, true);

    Click(Item(IDC_WB_AUTO));
    EXPECT_EQ(camera->ValuesOf(SelAutoWhiteBalance), Values{1});
    EXPECT_EQ(camera->ValuesOf(SelRed), Values{127});
    EXPECT_EQ(camera->ValuesOf(SelGreen), Values{127});
    EXPECT_EQ(camera->ValuesOf(SelBlue), Values{127});
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 127, false);
    ExpectSlider(IDC_WB_BLUE_SLIDER, IDC_WB_BLUE_EDIT, 127, false);
    EXPECT_EQ(camera->Setting("AWBEx"), 1);
    EXPECT_EQ(camera->Setting("WBRedEx"), 127);

    camera->Mark();
    Click(Item(IDC_WB_AUTO));
    EXPECT_EQ(camera->ValuesOf(SelAutoWhiteBalance), Values{0});
    EXPECT_EQ(camera->ValuesOf(SelRed), Values{127});
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 127, true);
    ExpectSlider(IDC_WB_BLUE_SLIDER, IDC_WB_BLUE_EDIT, 127, true);

    // Green has no control: whatever the host set, the page sends its default.
    ASSERT_TRUE(owner->Set_WhiteBalance(0, 40, 99, 50));
    owner->UpdateExtensionPropDialog();
    PumpMessages();
    camera->Mark();
    PressKey(Item(IDC_WB_RED_SLIDER), VK_RIGHT);
    EXPECT_EQ(camera->ValuesOf(SelRed), Values{41});
    EXPECT_EQ(camera->ValuesOf(SelGreen), Values{127});
    EXPECT_EQ(camera->ValuesOf(SelBlue), Values{50});
    EXPECT_EQ(camera->Setting("WBGreenEx"), 127);

    camera->Mark();
    Click(Item(IDC_EXPOSURE_AUTO));
    EXPECT_EQ(camera->ValuesOf(SelAutoExposure), Values{1});
    EXPECT_EQ(camera->ValuesOf(SelExposure), Values{255});
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 255, false);
    Click(Item(IDC_EXPOSURE_AUTO));
    EXPECT_EQ(camera->ValuesOf(SelAutoExposure), (Values{1, 0}));
    EXPECT_EQ(camera->ValuesOf(SelExposure), (Values{255, 255}));
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 255, true);

    camera->Mark();
    Click(Item(IDC_GAIN_AUTO));
    EXPECT_EQ(camera->ValuesOf(SelAutoGain), Values{1});
    EXPECT_EQ(camera->ValuesOf(SelGain), Values{63});
    ExpectSlider(IDC_GAIN_SLIDER, IDC_GAIN_EDIT, 63, false);
    EXPECT_EQ(camera->Setting("GainEx"), 63);
}

TEST_F(PageTest, PowerLineButtonsAndOnOffBoxesReachTheCamera) {
    Start();
    ASSERT_NE(Open(), nullptr);
    Click(Item(IDC_POWERLINE_OUTDOOR));
    Click(Item(IDC_POWERLINE_50HZ));
    EXPECT_EQ(camera->ValuesOf(SelPowerLine), (Values{0, 1}));
    EXPECT_EQ(camera->Setting("PowerLineEx"), 1);
    EXPECT_TRUE(Checked(IDC_POWERLINE_50HZ));
    EXPECT_FALSE(Checked(IDC_POWERLINE_60HZ));

    const struct {
        int id;
        unsigned short selector;
        const char* name;
        unsigned short first;
    } boxes[] = {{IDC_FLIP, SelFlip, "FlipEx", 1},
                 {IDC_MIRROR, SelMirror, "MirrorEx", 1},
                 {IDC_PRIVACY, SelPrivacy, "PrivacyEx", 1},
                 {IDC_LOWLIGHT, SelLowLight, "NightModeEx", 0}};
    for (const auto& box : boxes) {
        camera->Mark();
        Click(Item(box.id));
        EXPECT_EQ(camera->Setting(box.name), box.first) << box.name;
        Click(Item(box.id));
        EXPECT_EQ(camera->ValuesOf(box.selector),
                  (Values{box.first, static_cast<unsigned short>(1 - box.first)}))
            << box.name;
        EXPECT_EQ(camera->Writes().size(), 2u) << box.name;
    }
}

// Watches the Default button being disabled and enabled again.
struct DefaultButtonWatch {
    static WNDPROC previous;
    static CameraScene* camera;
    static HWND page;
    static std::vector<bool> states;
    static size_t writesWhenDisabled;
    static size_t writesWhenEnabled;
    static int exposureWhenEnabled;
    static bool flipWhenEnabled;

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_ENABLE) {
            states.push_back(wParam != 0);
            if (wParam == 0) {
                writesWhenDisabled = camera->Writes().size();
            } else {
                writesWhenEnabled = camera->Writes().size();
                exposureWhenEnabled = TrackbarPos(GetDlgItem(page, IDC_EXPOSURE_SLIDER));
                flipWhenEnabled = SendDlgItemMessageA(page, IDC_FLIP, BM_GETCHECK, 0, 0) != 0;
            }
        }
        return CallWindowProcA(previous, window, message, wParam, lParam);
    }
};
WNDPROC DefaultButtonWatch::previous = nullptr;
CameraScene* DefaultButtonWatch::camera = nullptr;
HWND DefaultButtonWatch::page = nullptr;
std::vector<bool> DefaultButtonWatch::states;
size_t DefaultButtonWatch::writesWhenDisabled = 0;
size_t DefaultButtonWatch::writesWhenEnabled = 0;
int DefaultButtonWatch::exposureWhenEnabled = 0;
bool DefaultButtonWatch::flipWhenEnabled = true;

TEST_F(PageTest, DefaultIsDisabledWhileItResetsAndTheControlsShowTheDefaultsAfterwards) {
    CameraScene::Settings settings = ManualEverything;
    settings.push_back({"FlipEx", 1});
    settings.push_back({"PowerLineEx", 0});
    Start(settings);
    ASSERT_NE(Open(), nullptr);
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 100, true);
    EXPECT_TRUE(Checked(IDC_FLIP));

    HWND button = Item(IDC_DEFAULT);
    DefaultButtonWatch::camera = camera.get();
    DefaultButtonWatch::page = page;
    DefaultButtonWatch::states.clear();
    DefaultButtonWatch::previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefaultButtonWatch::Proc)));
    Click(button);
    SetWindowLongPtrA(button, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(DefaultButtonWatch::previous));

    EXPECT_EQ(DefaultButtonWatch::states, (std::vector<bool>{false, true}));
    EXPECT_EQ(DefaultButtonWatch::writesWhenDisabled, 0u);
    // 3 white balance (green disabled), 2 exposure, 2 gain, power line, 4 on/off; the reload
    // that follows sends nothing.
    EXPECT_EQ(DefaultButtonWatch::writesWhenEnabled, 12u);
    EXPECT_EQ(camera->Writes().size(), 12u);
    EXPECT_EQ(DefaultButtonWatch::exposureWhenEnabled, 255);
    EXPECT_FALSE(DefaultButtonWatch::flipWhenEnabled);
    EXPECT_TRUE(IsUsable(button));

    EXPECT_TRUE(Checked(IDC_WB_AUTO));
    EXPECT_TRUE(Checked(IDC_EXPOSURE_AUTO));
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 255, false);
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 127, false);
    ExpectSlider(IDC_GAIN_SLIDER, IDC_GAIN_EDIT, 63, false);
    EXPECT_TRUE(Checked(IDC_POWERLINE_60HZ));
    EXPECT_FALSE(Checked(IDC_FLIP));
    EXPECT_TRUE(Checked(IDC_LOWLIGHT));
    EXPECT_EQ(camera->Setting("ExposureEx"), 255);
    EXPECT_EQ(camera->Setting("FlipEx"), 0);
    EXPECT_EQ(camera->Setting("PowerLineEx"), 2);
}

TEST_F(PageTest, UpdateAfterHostChangesRefreshesEveryControlAndSendsNothing) {
    Start();
    owner->UpdateExtensionPropDialog();  // no page yet: nothing happens
    ASSERT_NE(Open(), nullptr);

    ASSERT_TRUE(owner->Set_WhiteBalance(0, 40, 0, 60));
    ASSERT_TRUE(owner->Set_Exposure(0, 300));
    ASSERT_TRUE(owner->Set_Gain(0, 20));
    ASSERT_TRUE(owner->Set_PowerLine(0));
    ASSERT_TRUE(owner->Set_Flip(1));
    ASSERT_TRUE(owner->Set_Mirror(1));
    ASSERT_TRUE(owner->Set_PrivateMode(1));
    ASSERT_TRUE(owner->Set_LowLightMode(0));
    PumpMessages();
    EXPECT_FALSE(Checked(IDC_FLIP));  // the page does not notice by itself
    camera->Mark();

    owner->UpdateExtensionPropDialog();
    PumpMessages();
    EXPECT_TRUE(camera->Writes().empty());
    EXPECT_FALSE(Checked(IDC_WB_AUTO));
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 40, true);
    ExpectSlider(IDC_WB_BLUE_SLIDER, IDC_WB_BLUE_EDIT, 60, true);
    EXPECT_FALSE(Checked(IDC_EXPOSURE_AUTO));
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 300, true);
    EXPECT_FALSE(Checked(IDC_GAIN_AUTO));
    ExpectSlider(IDC_GAIN_SLIDER, IDC_GAIN_EDIT, 20, true);
    EXPECT_TRUE(Checked(IDC_POWERLINE_OUTDOOR));
    EXPECT_FALSE(Checked(IDC_POWERLINE_60HZ));
    EXPECT_TRUE(Checked(IDC_FLIP));
    EXPECT_TRUE(Checked(IDC_MIRROR));
    EXPECT_TRUE(Checked(IDC_PRIVACY));
    EXPECT_FALSE(Checked(IDC_LOWLIGHT));

    // A power-line value outside the buttons leaves all three unchecked.
    ASSERT_TRUE(owner->Set_PowerLine(7));
    owner->UpdateExtensionPropDialog();
    PumpMessages();
    for (int id : PowerLineButtonIds) EXPECT_FALSE(Checked(id)) << id;

    // Enter and Esc do nothing.
    camera->Mark();
    SendMessageA(page, WM_COMMAND, IDOK, 0);
    SendMessageA(page, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(IsWindow(page));
    EXPECT_TRUE(camera->Writes().empty());
}

TEST_F(PageTest, DisabledRecordsHideTheirControlsAndTheHandlersPassZero) {
    // A camera without automatic white balance or exposure: the auto records are disabled and
    // their values absent, so they hold the default 1; the groups are manual all the same.
    Start({{"AWBExEnb", 0},
           {"WBRedEx", 10},
           {"WBBlueEx", 30},
           {"AECExEnb", 0},
           {"ExposureEx", 100},
           {"GainExEnb", 0},
           {"AGCEx", 0},
           {"FlipExEnb", 0},
           {"PowerLineExEnb", 0}});
    ASSERT_NE(Open(), nullptr);
    for (int id :
         {IDC_WB_AUTO, IDC_EXPOSURE_AUTO, IDC_GAIN_SLIDER, IDC_GAIN_EDIT, IDC_GAIN_LABEL, IDC_FLIP,
          IDC_POWERLINE_LABEL, IDC_POWERLINE_OUTDOOR, IDC_POWERLINE_50HZ, IDC_POWERLINE_60HZ}) {
        EXPECT_FALSE(IsWindowVisible(Item(id))) << id;
    }
    EXPECT_TRUE(IsUsable(Item(IDC_MIRROR)));
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 10, true);
    ExpectSlider(IDC_WB_BLUE_SLIDER, IDC_WB_BLUE_EDIT, 30, true);
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 100, true);

    // The hidden auto box reads unchecked, so white balance goes out as manual values.
    PressKey(Item(IDC_WB_RED_SLIDER), VK_RIGHT);
    EXPECT_TRUE(camera->ValuesOf(SelAutoWhiteBalance).empty());
    EXPECT_EQ(camera->ValuesOf(SelRed), Values{11});
    EXPECT_EQ(camera->ValuesOf(SelBlue), Values{30});
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 11, true);
    PressKey(Item(IDC_EXPOSURE_SLIDER), VK_LEFT);
    EXPECT_EQ(camera->ValuesOf(SelExposure), Values{99});
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 99, true);
    owner->UpdateExtensionPropDialog();
    PumpMessages();
    ExpectSlider(IDC_WB_BLUE_SLIDER, IDC_WB_BLUE_EDIT, 30, true);
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 99, true);

    // Auto gain still works; the disabled gain record is skipped.
    camera->Mark();
    Click(Item(IDC_GAIN_AUTO));
    EXPECT_EQ(camera->ValuesOf(SelAutoGain), Values{1});
    EXPECT_TRUE(camera->ValuesOf(SelGain).empty());
}

TEST_F(PageTest, CreateRefusesInertObjectsAndASecondPageAndLeavesTheTitleAlone) {
    Start();
    ASSERT_NE(Open(), nullptr);
    char title[16] = "untouched";
    EXPECT_EQ(owner->CreateExtensionPropDialog(SharedHostWindow(), title, sizeof(title)), nullptr);
    EXPECT_STREQ(title, "untouched");
    EXPECT_EQ(owner->GetExtensionPropDialogHandle(), page);
    EXPECT_TRUE(IsWindowVisible(page));

    KOVALTIX second;  // the live instance exists, so this one is inert
    EXPECT_EQ(second.CreateExtensionPropDialog(SharedHostWindow(), title, sizeof(title)), nullptr);
    EXPECT_STREQ(title, "untouched");
    EXPECT_EQ(second.GetExtensionPropDialogHandle(), nullptr);
    second.CloseExtensionPropDialog();
    second.UpdateExtensionPropDialog();
    EXPECT_TRUE(IsWindow(page));
}

TEST_F(PageTest, ClosedPageCanBeCreatedAgainWithItsControlsBoundLikeTheFirst) {
    Start(ManualEverything);
    HWND first = Open();
    ASSERT_NE(first, nullptr);
    HWND firstTrackbar = Item(IDC_EXPOSURE_SLIDER);

    owner->CloseExtensionPropDialog();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(firstTrackbar));
    EXPECT_EQ(owner->GetExtensionPropDialogHandle(), nullptr);
    EXPECT_EQ(PumpMessages(), 1);  // the page ends its thread's message loop

    ASSERT_TRUE(owner->Set_Exposure(0, 222));
    ASSERT_NE(Open(), nullptr);
    ExpectSlider(IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, 222, true);
    ExpectSlider(IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT, 10, true);
    EXPECT_TRUE(IsUsable(Item(IDC_FLIP)));
    EXPECT_TRUE(Checked(IDC_POWERLINE_60HZ));
    PressKey(Item(IDC_EXPOSURE_SLIDER), VK_RIGHT);
    EXPECT_EQ(camera->ValuesOf(SelExposure), Values{223});
    Click(Item(IDC_FLIP));
    EXPECT_EQ(camera->ValuesOf(SelFlip), Values{1});

    // WM_CLOSE from anyone closes it through the owner.
    SendMessageA(page, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(page));
    EXPECT_EQ(owner->GetExtensionPropDialogHandle(), nullptr);
    PumpMessages();
}

TEST_F(PageTest, PageDestroyedWithItsParentStaysRecordedUntilClosed) {
    Start(ManualEverything);
    HWND frame = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 400, 400,
                                 SharedHostWindow(), nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(frame, nullptr);
    char title[64] = {};
    HWND first = owner->CreateExtensionPropDialog(frame, title, sizeof(title));
    ASSERT_NE(first, nullptr);
    DestroyWindow(frame);
    PumpMessages();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(owner->GetExtensionPropDialogHandle(), first);
    EXPECT_EQ(owner->CreateExtensionPropDialog(SharedHostWindow(), title, sizeof(title)), nullptr);

    owner->CloseExtensionPropDialog();
    ASSERT_NE(Open(), nullptr);
    ExpectSlider(IDC_GAIN_SLIDER, IDC_GAIN_EDIT, 20, true);
    PressKey(Item(IDC_GAIN_SLIDER), VK_LEFT);
    EXPECT_EQ(camera->ValuesOf(SelGain), Values{19});
}

// Refuses every trackbar this thread creates, as a host without the trackbar class gets on
// Windows (Wine's user32 would load the common controls on demand).
LRESULT CALLBACK RefuseTrackbars(int code, WPARAM wParam, LPARAM lParam) {
    char name[64] = "";
    if (code == HCBT_CREATEWND &&
        GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof(name)) &&
        lstrcmpiA(name, TRACKBAR_CLASSA) == 0)
        return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(PageTest, FailedCreationLowersTheBusyFlagAndLeavesTheHostsLoopRunning) {
    Start();
    // A module without the page's template: the lookup finds nothing.
    StartUp(GetModuleHandleA("ntdll.dll"));
    char title[16] = "untouched";
    EXPECT_EQ(owner->CreateExtensionPropDialog(SharedHostWindow(), title, sizeof(title)), nullptr);
    EXPECT_EQ(owner->GetExtensionPropDialogHandle(), nullptr);
    EXPECT_FALSE(PageBusy);
    EXPECT_STREQ(title, "untouched");
    StartUp(GetModuleHandleA(nullptr));

    // A control that cannot be created: the dialog manager destroys the half-built page.
    HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseTrackbars, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(owner->CreateExtensionPropDialog(SharedHostWindow(), title, sizeof(title)), nullptr);
    UnhookWindowsHookEx(hook);
    EXPECT_FALSE(PageBusy);
    EXPECT_EQ(PumpMessages(), 0) << "the host's message loop was told to quit";

    ASSERT_NE(Open(), nullptr);
    ExpectSlider(IDC_GAIN_SLIDER, IDC_GAIN_EDIT, 63, false);  // bound: default gain, auto on
}

// Waits for a thread while running this thread's messages, as a host's message loop would.
void PumpUntil(const std::atomic<bool>& done) {
    while (!done) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        PumpMessages();
    }
}

TEST_F(PageTest, DestroyingTheLiveObjectOnAnotherThreadClosesThePageFirst) {
    Start();
    ASSERT_NE(Open(), nullptr);
    KOVALTIX* live = owner.release();
    std::atomic<bool> done{false};
    std::atomic<bool> pageGoneFirst{false};
    std::thread host([&] {
        delete live;
        pageGoneFirst = !IsWindow(page);
        done = true;
    });
    PumpUntil(done);
    host.join();
    EXPECT_TRUE(pageGoneFirst);
    EXPECT_FALSE(IsWindow(page));

    // The marker went with it: the next object is live and gets a page.
    owner = std::make_unique<KOVALTIX>();
    EXPECT_NE(Open(), nullptr);
}

TEST_F(PageTest, ClosingFromAnotherThreadLetsThePagesThreadDestroyIt) {
    Start();
    ASSERT_NE(Open(), nullptr);
    std::atomic<bool> done{false};
    std::thread host([&] {
        owner->CloseExtensionPropDialog();
        done = true;
    });
    PumpUntil(done);
    host.join();
    EXPECT_FALSE(IsWindow(page));
    EXPECT_EQ(owner->GetExtensionPropDialogHandle(), nullptr);
    EXPECT_NE(Open(), nullptr);
}

}  // namespace

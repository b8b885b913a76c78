// Bindings on a dialog built in memory, driven by the messages a user's mouse and keys produce.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "DLL/page/Bindings.h"
#include "tests/page/PageTestHost.h"

namespace {

enum : int {
    LabelId = 100,
    TrackbarId = 101,
    EditId = 102,
    CheckId = 103,
    ThreeStateId = 104,
    RadioFirstId = 105,
    RadioLabelId = 108,
};
const int RadioIds[3] = {105, 106, 107};

// What the test dialog's procedure saw of its edit box.
int EditUpdates = 0;

INT_PTR CALLBACK TestDialogProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == EditId && HIWORD(wParam) == EN_UPDATE) {
        ++EditUpdates;
        return TRUE;
    }
    return FALSE;
}

// Spies on the trackbar's own messages from before the binding subclasses it.
WNDPROC SpiedProc = nullptr;
LPARAM LastRangeParam = 0;

LRESULT CALLBACK RangeSpyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == TBM_SETRANGE) LastRangeParam = lParam;
    return CallWindowProcA(SpiedProc, window, message, wParam, lParam);
}

PROPDATA MakeRecord(long min, long max, long value, long enb = 1) {
    return PROPDATA{min, max, value, 0, enb};
}

class BindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterTrackbarClass();
        DialogTemplate layout(WS_CHILD | WS_VISIBLE, 200, 120);
        layout.Add(LabelId, "STATIC", WS_VISIBLE | WS_DISABLED | SS_RIGHT, 4, 4, 40, 8, "Level:");
        layout.Add(TrackbarId, "msctls_trackbar32",
                   WS_VISIBLE | WS_DISABLED | WS_TABSTOP | TBS_BOTH | TBS_NOTICKS, 48, 4, 100, 14);
        layout.Add(EditId, "EDIT", WS_VISIBLE | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, 150, 4,
                   30, 12);
        layout.Add(CheckId, "BUTTON", WS_VISIBLE | WS_DISABLED | BS_AUTOCHECKBOX, 4, 24, 60, 10,
                   "Check");
        layout.Add(ThreeStateId, "BUTTON", WS_VISIBLE | BS_AUTO3STATE, 70, 24, 60, 10, "Three");
        layout.Add(RadioIds[0], "BUTTON", WS_VISIBLE | WS_DISABLED | WS_GROUP | BS_AUTORADIOBUTTON,
                   48, 40, 30, 10, "A");
        layout.Add(RadioIds[1], "BUTTON", WS_VISIBLE | WS_DISABLED | BS_AUTORADIOBUTTON, 80, 40, 30,
                   10, "B");
        layout.Add(RadioIds[2], "BUTTON", WS_VISIBLE | WS_DISABLED | BS_AUTORADIOBUTTON, 112, 40,
                   30, 10, "C");
        layout.Add(RadioLabelId, "STATIC", WS_VISIBLE | WS_DISABLED | WS_GROUP, 4, 40, 40, 8,
                   "Source:");
        dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), layout.Get(),
                                            SharedHostWindow(), TestDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        trackbar = GetDlgItem(dialog, TrackbarId);
        edit = GetDlgItem(dialog, EditId);
        EditUpdates = 0;
    }

    void TearDown() override {
        if (dialog != nullptr) DestroyWindow(dialog);
        PumpMessages();
    }

    HWND Item(int id) const { return GetDlgItem(dialog, id); }

    HWND dialog = nullptr;
    HWND trackbar = nullptr;
    HWND edit = nullptr;
};

TEST_F(BindingTest, SliderBindEnablesAndLoadsItsControlsWithSixteenBitBounds) {
    SpiedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(trackbar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RangeSpyProc)));
    PROPDATA record = MakeRecord(-10, 10, 3);
    SliderBinding slider;
    ASSERT_TRUE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &record));

    EXPECT_EQ(LastRangeParam, 0x000AFFF6);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMIN, 0, 0), -10);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMAX, 0, 0), 10);
    EXPECT_EQ(TrackbarPos(trackbar), 3);
    EXPECT_EQ(WindowText(edit), "3");
    EXPECT_TRUE(IsUsable(Item(LabelId)));
    EXPECT_TRUE(IsUsable(trackbar));
    EXPECT_TRUE(IsUsable(edit));
    EXPECT_EQ(slider.GetValue(), 3);

    // A second Bind is refused and leaves the first record's controls as they are.
    PROPDATA other = MakeRecord(0, 255, 200);
    EXPECT_FALSE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &other));
    EXPECT_EQ(TrackbarPos(trackbar), 3);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMAX, 0, 0), 10);

    slider.SetValue(-4);
    EXPECT_EQ(TrackbarPos(trackbar), -4);
    EXPECT_EQ(WindowText(edit), "-4");
    EXPECT_EQ(slider.GetValue(), -4);

    ASSERT_TRUE(slider.Enable(false));
    EXPECT_FALSE(IsWindowEnabled(Item(LabelId)));
    EXPECT_FALSE(IsWindowEnabled(trackbar));
    EXPECT_FALSE(IsWindowEnabled(edit));
}

TEST_F(BindingTest, SliderBoundsBeyondSixteenBitsAreCut) {
    SpiedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(trackbar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RangeSpyProc)));
    PROPDATA record = MakeRecord(0x10002, 0x10040, 0x10);
    SliderBinding slider;
    ASSERT_TRUE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &record));
    EXPECT_EQ(LastRangeParam, 0x00400002);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMAX, 0, 0), 0x40);
}

TEST_F(BindingTest, DraggingCopiesOnPressEveryMoveAndRelease) {
    PROPDATA record = MakeRecord(0, 100, 50);
    SliderBinding slider;
    ASSERT_TRUE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &record));
    EditUpdates = 0;

    POINT point = ThumbCenter(trackbar);
    PressAt(trackbar, point);
    EXPECT_EQ(EditUpdates, 1);
    EXPECT_EQ(WindowText(edit), "50");

    point.x += 30;
    MoveTo(trackbar, point);
    EXPECT_EQ(EditUpdates, 2);
    const int moved = TrackbarPos(trackbar);
    EXPECT_GT(moved, 50);
    EXPECT_EQ(WindowText(edit), std::to_string(moved));

    // Copies again although the thumb did not move.
    MoveTo(trackbar, point);
    EXPECT_EQ(EditUpdates, 3);

    // A second press while dragging does not copy.
    PressAt(trackbar, point);
    EXPECT_EQ(EditUpdates, 3);

    ReleaseAt(trackbar, point);
    EXPECT_EQ(EditUpdates, 4);
    EXPECT_EQ(slider.GetValue(), TrackbarPos(trackbar));

    // Moving without the button and releasing again copy nothing.
    MoveTo(trackbar, POINT{point.x - 20, point.y});
    ReleaseAt(trackbar, point);
    EXPECT_EQ(EditUpdates, 4);

    // A drag whose capture is taken away never sees its button-up; it ends all the same, and
    // the mouse moving over the trackbar afterwards neither moves the thumb nor copies.
    point = ThumbCenter(trackbar);
    PressAt(trackbar, point);
    ReleaseCapture();
    EXPECT_EQ(EditUpdates, 5);
    const int kept = TrackbarPos(trackbar);
    for (int dx : {25, -40}) {
        point.x += dx;
        SendMessageA(trackbar, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y));
    }
    EXPECT_EQ(EditUpdates, 5);
    EXPECT_EQ(TrackbarPos(trackbar), kept);
    EXPECT_EQ(WindowText(edit), std::to_string(kept));
}

TEST_F(BindingTest, EveryKeyThatMovesTheThumbCopiesThePosition) {
    PROPDATA record = MakeRecord(0, 100, 50);
    SliderBinding slider;
    ASSERT_TRUE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &record));
    EditUpdates = 0;

    PressKey(trackbar, VK_RIGHT);
    EXPECT_EQ(EditUpdates, 1);
    EXPECT_EQ(WindowText(edit), "51");
    PressKey(trackbar, VK_LEFT);
    PressKey(trackbar, VK_LEFT);
    EXPECT_EQ(EditUpdates, 3);
    EXPECT_EQ(WindowText(edit), "49");

    int updates = EditUpdates;
    for (UINT key : {VK_UP, VK_DOWN, VK_PRIOR, VK_NEXT, VK_HOME, VK_END}) {
        const int before = TrackbarPos(trackbar);
        PressKey(trackbar, key);
        EXPECT_NE(TrackbarPos(trackbar), before) << "key " << key;
        EXPECT_EQ(EditUpdates, ++updates) << "key " << key;
        EXPECT_EQ(WindowText(edit), std::to_string(TrackbarPos(trackbar))) << "key " << key;
    }
    EXPECT_EQ(slider.GetValue(), 100);

    // End at the end moves nothing and copies nothing; Right copies on every key-down.
    PressKey(trackbar, VK_END);
    EXPECT_EQ(EditUpdates, updates);
    PressKey(trackbar, VK_RIGHT);
    EXPECT_EQ(EditUpdates, updates + 1);

    const POINT center = ThumbCenter(trackbar);
    SendMessageA(trackbar, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA),
                 MAKELPARAM(center.x, center.y));
    EXPECT_EQ(WindowText(edit), std::to_string(TrackbarPos(trackbar)));
}

TEST_F(BindingTest, GetValueFallsBackToTheEditBoxWhenTheTrackbarIsGone) {
    PROPDATA record = MakeRecord(0, 100, 42);
    SliderBinding slider;
    ASSERT_TRUE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &record));
    DestroyWindow(trackbar);
    EXPECT_EQ(slider.GetValue(), 42);
    SetDlgItemInt(dialog, EditId, static_cast<UINT>(-7), TRUE);
    EXPECT_EQ(slider.GetValue(), -7);
    SetWindowTextA(edit, "abc");
    EXPECT_EQ(slider.GetValue(), 0);
}

TEST_F(BindingTest, SliderWithoutTrackbarFailsToBindButShowsTheValue) {
    PROPDATA record = MakeRecord(0, 100, 17);
    SliderBinding slider;
    EXPECT_FALSE(slider.Bind(dialog, LabelId, 999, EditId, &record));
    EXPECT_EQ(WindowText(edit), "17");
    EXPECT_EQ(slider.GetValue(), 0);
}

TEST_F(BindingTest, UnbindAndDestructionGiveTheTrackbarItsProcedureBack) {
    const LONG_PTR original = GetWindowLongPtrA(trackbar, GWLP_WNDPROC);
    PROPDATA record = MakeRecord(0, 100, 50);
    {
        SliderBinding slider;
        ASSERT_TRUE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &record));
        EXPECT_NE(GetWindowLongPtrA(trackbar, GWLP_WNDPROC), original);

        slider.Unbind();
        EXPECT_EQ(GetWindowLongPtrA(trackbar, GWLP_WNDPROC), original);
        EXPECT_FALSE(slider.IsBound());
        EditUpdates = 0;
        PressKey(trackbar, VK_RIGHT);
        EXPECT_EQ(EditUpdates, 0);
        EXPECT_EQ(slider.GetValue(), 0);

        // Unbound, it binds again like a new one.
        record.Value = 20;
        ASSERT_TRUE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &record));
        EXPECT_EQ(TrackbarPos(trackbar), 20);
        PressKey(trackbar, VK_RIGHT);
        EXPECT_EQ(EditUpdates, 2);  // SetDlgItemInt at Bind, then the key
        EXPECT_EQ(WindowText(edit), "21");
    }
    EXPECT_EQ(GetWindowLongPtrA(trackbar, GWLP_WNDPROC), original);
    EditUpdates = 0;
    PressKey(trackbar, VK_RIGHT);
    EXPECT_EQ(EditUpdates, 0);
}

TEST_F(BindingTest, DisabledRecordsHideTheirControlsAndStayOutOfPlay) {
    PROPDATA sliderRecord = MakeRecord(0, 100, 50, 0);
    PROPDATA checkRecord = MakeRecord(0, 1, 1, 0);
    PROPDATA radioRecord = MakeRecord(0, 2, 1, 0);
    SliderBinding slider;
    CheckBinding check;
    RadioGroupBinding radio;
    ASSERT_TRUE(slider.Bind(dialog, LabelId, TrackbarId, EditId, &sliderRecord));
    ASSERT_TRUE(check.Bind(dialog, CheckId, &checkRecord));
    ASSERT_TRUE(radio.Bind(dialog, RadioLabelId, RadioIds, 3, &radioRecord));

    for (int id : {int(LabelId), int(TrackbarId), int(EditId), int(CheckId), int(RadioLabelId),
                   RadioIds[0], RadioIds[1], RadioIds[2]}) {
        EXPECT_FALSE(IsWindowVisible(Item(id))) << "control " << id;
    }
    const LONG_PTR trackbarProc = GetWindowLongPtrA(trackbar, GWLP_WNDPROC);
    EditUpdates = 0;
    slider.SetValue(70);
    EXPECT_NE(TrackbarPos(trackbar), 70);
    EXPECT_EQ(EditUpdates, 0);
    EXPECT_EQ(slider.GetValue(), 0);
    EXPECT_TRUE(slider.Enable(true));
    EXPECT_FALSE(IsWindowEnabled(trackbar));
    EXPECT_EQ(GetWindowLongPtrA(trackbar, GWLP_WNDPROC), trackbarProc);

    SendDlgItemMessageA(dialog, CheckId, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_FALSE(check.GetCheck());
    EXPECT_FALSE(check.SetCheck(false));
    EXPECT_EQ(SendDlgItemMessageA(dialog, CheckId, BM_GETCHECK, 0, 0), BST_CHECKED);

    EXPECT_EQ(radio.GetIndex(), -1);
    EXPECT_TRUE(radio.SetIndex(1));
    EXPECT_EQ(FindCheckedIndex(dialog, RadioIds, 3), -1);
}

TEST_F(BindingTest, CheckBoxFollowsItsRecordAndIndeterminateReadsUnchecked) {
    PROPDATA record = MakeRecord(0, 1, 1);
    CheckBinding check;
    ASSERT_TRUE(check.Bind(dialog, CheckId, &record));
    EXPECT_TRUE(IsUsable(Item(CheckId)));
    EXPECT_TRUE(check.GetCheck());
    Click(Item(CheckId));
    EXPECT_FALSE(check.GetCheck());
    EXPECT_TRUE(check.SetCheck(true));
    EXPECT_EQ(SendDlgItemMessageA(dialog, CheckId, BM_GETCHECK, 0, 0), BST_CHECKED);

    PROPDATA threeState = MakeRecord(0, 1, 0);
    CheckBinding indeterminate;
    ASSERT_TRUE(indeterminate.Bind(dialog, ThreeStateId, &threeState));
    SendDlgItemMessageA(dialog, ThreeStateId, BM_SETCHECK, BST_INDETERMINATE, 0);
    EXPECT_EQ(SendDlgItemMessageA(dialog, ThreeStateId, BM_GETCHECK, 0, 0), BST_INDETERMINATE);
    EXPECT_FALSE(GetDlgItemCheck(dialog, ThreeStateId));
    EXPECT_FALSE(indeterminate.GetCheck());

    // A missing control fails the Bind; the record stays taken.
    CheckBinding missing;
    EXPECT_FALSE(missing.Bind(dialog, 999, &record));
    EXPECT_FALSE(missing.Bind(dialog, CheckId, &record));
    EXPECT_FALSE(missing.GetCheck());
}

TEST_F(BindingTest, RadioGroupChecksTheRecordsIndexAndUnchecksAllOutOfRange) {
    PROPDATA record = MakeRecord(0, 2, 2);
    RadioGroupBinding radio;
    EXPECT_FALSE(radio.Bind(dialog, RadioLabelId, nullptr, 3, &record));
    EXPECT_FALSE(radio.Bind(dialog, RadioLabelId, RadioIds, 0, &record));
    EXPECT_FALSE(radio.IsBound());
    EXPECT_EQ(radio.GetIndex(), 0);  // unbound

    int ids[3] = {RadioIds[0], RadioIds[1], RadioIds[2]};
    ASSERT_TRUE(radio.Bind(dialog, RadioLabelId, ids, 3, &record));
    ids[2] = 999;  // the binding keeps its own copy of the list
    EXPECT_TRUE(IsUsable(Item(RadioLabelId)));
    for (int id : RadioIds) EXPECT_TRUE(IsUsable(Item(id)));
    EXPECT_EQ(FindCheckedIndex(dialog, RadioIds, 3), 2);
    EXPECT_EQ(radio.GetIndex(), 2);

    EXPECT_TRUE(radio.SetIndex(-1));
    EXPECT_EQ(radio.GetIndex(), -1);
    EXPECT_TRUE(radio.SetIndex(0));
    EXPECT_EQ(radio.GetIndex(), 0);
    EXPECT_TRUE(radio.SetIndex(3));
    EXPECT_EQ(radio.GetIndex(), -1);

    Click(Item(RadioIds[1]));
    EXPECT_EQ(radio.GetIndex(), 1);

    // A value outside the buttons at Bind leaves all unchecked.
    radio.Unbind();
    record.Value = 5;
    ASSERT_TRUE(radio.Bind(dialog, RadioLabelId, RadioIds, 3, &record));
    EXPECT_EQ(radio.GetIndex(), -1);
}

}  // namespace

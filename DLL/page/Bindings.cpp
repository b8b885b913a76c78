#include "DLL/page/Bindings.h"

#include <commctrl.h>
#include <cstdio>
#include <new>

void EnableDlgItem(HWND dialog, int id, bool flag) {
    EnableWindow(GetDlgItem(dialog, id), flag ? TRUE : FALSE);
}

void ShowDlgItem(HWND dialog, int id, bool flag) {
    ShowWindow(GetDlgItem(dialog, id), flag ? SW_SHOWNORMAL : SW_HIDE);
}

void SetDlgItemCheck(HWND dialog, int id, bool flag) {
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, flag ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool GetDlgItemCheck(HWND dialog, int id) {
    return (SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) & BST_CHECKED) != 0;
}

void CheckRadioIndex(HWND dialog, const int* ids, int count, int index) {
    for (int i = 0; i < count; ++i) SetDlgItemCheck(dialog, ids[i], i == index);
}

int FindCheckedIndex(HWND dialog, const int* ids, int count) {
    for (int i = 0; i < count; ++i) {
        if (GetDlgItemCheck(dialog, ids[i])) return i;
    }
    return -1;
}

HWND FindDlgItem(HWND dialog, int id, HWND& kept) {
    if (kept != nullptr && IsWindow(kept)) return kept;
    kept = dialog != nullptr ? GetDlgItem(dialog, id) : nullptr;
    return kept;
}

namespace {

// What SetDlgItemInt does, without looking the edit box up again.
void SetNumber(HWND edit, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

bool ButtonChecked(HWND button) {
    return (SendMessageA(button, BM_GETCHECK, 0, 0) & BST_CHECKED) != 0;
}

void SetButtonCheck(HWND button, bool flag) {
    SendMessageA(button, BM_SETCHECK, flag ? BST_CHECKED : BST_UNCHECKED, 0);
}

// Only a control whose state differs is touched: each change is a trip to the window server.
void SetEnabled(HWND control, bool flag) {
    if (control != nullptr && (IsWindowEnabled(control) != FALSE) != flag) {
        EnableWindow(control, flag ? TRUE : FALSE);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TrackbarEditLink::TrackbarEditLink()
    : dialog(nullptr),
      labelId(0),
      trackbarId(0),
      editId(0),
      minimum(0),
      maximum(0),
      dragging(false),
      previousProc(nullptr),
      label(nullptr),
      trackbar(nullptr),
      edit(nullptr) {}

TrackbarEditLink::~TrackbarEditLink() { Detach(); }

HWND TrackbarEditLink::Label() const { return FindDlgItem(dialog, labelId, label); }

HWND TrackbarEditLink::Trackbar() const { return FindDlgItem(dialog, trackbarId, trackbar); }

HWND TrackbarEditLink::Edit() const {
    return editId != 0 ? FindDlgItem(dialog, editId, edit) : nullptr;
}

bool TrackbarEditLink::Attach(HWND dialog, int labelId, int trackbarId, int editId, int minimum,
                              int maximum, int position) {
    if (this->dialog != nullptr) return false;
    HWND trackbar = GetDlgItem(dialog, trackbarId);
    // Id 0 means "no edit box", not "the control whose id happens to be 0".
    HWND edit = editId != 0 ? GetDlgItem(dialog, editId) : nullptr;

    this->minimum = minimum;
    this->maximum = maximum;
    dragging = false;
    if (trackbar != nullptr) {
        this->labelId = labelId;
        this->trackbarId = trackbarId;
        this->trackbar = trackbar;
        // The trackbar takes 16-bit bounds only.
        const DWORD range = (static_cast<DWORD>(minimum) & 0xFFFFu) |
                            ((static_cast<DWORD>(maximum) & 0xFFFFu) << 16);
        // A trackbar not yet on screen (the page binds before it is shown) is painted whole when
        // it appears; redrawing it now would only cost trips to the window server.
        const WPARAM redraw = IsWindowVisible(trackbar) ? TRUE : FALSE;
        SendMessageA(trackbar, TBM_SETRANGE, redraw, static_cast<LPARAM>(range));
        SendMessageA(trackbar, TBM_SETPOS, redraw, static_cast<LPARAM>(position));
        // The link must be findable before the first message reaches the subclass procedure.
        previousProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(trackbar, GWLP_WNDPROC));
        SetWindowLongPtrA(trackbar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrA(trackbar, GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(&TrackbarSubclassProc));
    }
    if (edit != nullptr) {
        this->editId = editId;
        this->edit = edit;
        SetNumber(edit, position);
    }
    if (trackbar == nullptr) return false;
    this->dialog = dialog;
    return true;
}

void TrackbarEditLink::SetPos(int position) {
    if (dialog == nullptr) return;
    if (HWND trackbar = Trackbar()) {
        SendMessageA(trackbar, TBM_SETPOS, TRUE, static_cast<LPARAM>(position));
    }
    if (HWND edit = Edit()) SetNumber(edit, position);
}

bool TrackbarEditLink::GetPos(int* position) const {
    if (dialog == nullptr || position == nullptr) return false;
    if (HWND trackbar = Trackbar()) {
        *position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
        return true;
    }
    if (Edit() != nullptr) {
        BOOL ok = FALSE;
        const int number = static_cast<int>(GetDlgItemInt(dialog, editId, &ok, TRUE));
        if (!ok) return false;
        *position = number;
        return true;
    }
    return false;
}

void TrackbarEditLink::Detach() {
    if (dialog == nullptr) return;
    HWND trackbar = Trackbar();
    // Only undo our own subclassing: the handle may since belong to another window.
    if (trackbar == nullptr ||
        GetWindowLongPtrA(trackbar, GWLP_USERDATA) != reinterpret_cast<LONG_PTR>(this)) {
        return;
    }
    SetWindowLongPtrA(trackbar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc));
    SetWindowLongPtrA(trackbar, GWLP_USERDATA, 0);
}

void TrackbarEditLink::Reset() {
    Detach();
    dialog = nullptr;
    labelId = 0;
    trackbarId = 0;
    editId = 0;
    minimum = 0;
    maximum = 0;
    dragging = false;
    previousProc = nullptr;
    label = nullptr;
    trackbar = nullptr;
    edit = nullptr;
}

void TrackbarEditLink::CopyPosition(HWND trackbar) {
    if (dialog == nullptr || editId == 0) return;
    const int position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
    if (HWND edit = Edit()) SetNumber(edit, position);
}

int TrackbarEditLink::Position(HWND trackbar) const {
    return static_cast<int>(CallWindowProcA(previousProc, trackbar, TBM_GETPOS, 0, 0));
}

void TrackbarEditLink::EndLostDrag(HWND trackbar) {
    dragging = false;
    // The trackbar never sees the button go up either, and one that keeps dragging would follow
    // the mouse hovering over it; its button-up releases the thread's capture, so it is told only
    // while no window of this thread holds one.
    if (GetCapture() == nullptr) CallWindowProcA(previousProc, trackbar, WM_LBUTTONUP, 0, 0);
}

namespace {

// What the user moves the thumb with: keys, the mouse and its wheel, the timer that repeats a
// page step while the button is held on the channel, and the end of a drag.
bool MovesTheThumb(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) || message == WM_TIMER ||
           message == WM_CAPTURECHANGED;
}

}  // namespace

LRESULT CALLBACK TrackbarSubclassProc(HWND trackbar, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* link = reinterpret_cast<TrackbarEditLink*>(GetWindowLongPtrA(trackbar, GWLP_USERDATA));
    if (link == nullptr || link->previousProc == nullptr) {
        return DefWindowProcA(trackbar, message, wParam, lParam);
    }
    const bool watched = MovesTheThumb(message);
    const int before = watched ? link->Position(trackbar) : 0;
    // The drag ends before the trackbar lets the capture go, so that the capture change this
    // causes is not taken for a lost drag.
    const bool released = message == WM_LBUTTONUP && link->dragging;
    if (released) link->dragging = false;
    const LRESULT result = CallWindowProcA(link->previousProc, trackbar, message, wParam, lParam);

    // Decided after the trackbar has acted, so the copy reads the new position. Press, drag
    // moves, release and Left/Right copy once each even when the thumb stays put.
    bool copy = false;
    switch (message) {
    case WM_KEYDOWN:
        copy = wParam == VK_LEFT || wParam == VK_RIGHT;
        break;
    case WM_LBUTTONDOWN:
        if (!link->dragging) {
            link->dragging = true;
            copy = true;
        }
        break;
    case WM_MOUSEMOVE:
        copy = link->dragging;
        break;
    case WM_LBUTTONUP:
        copy = released;
        break;
    case WM_CAPTURECHANGED:
        // Alt+Tab in mid-drag: the capture went elsewhere and no button-up will come.
        if (link->dragging && reinterpret_cast<HWND>(lParam) != trackbar) {
            link->EndLostDrag(trackbar);
        }
        break;
    default:
        break;
    }
    // Any other way the thumb moved (keys, wheel, paging): the edit box follows all the same.
    if (!copy && watched) copy = link->Position(trackbar) != before;
    if (copy) link->CopyPosition(trackbar);
    return result;
}

// ---------------------------------------------------------------------------------------------

SliderBinding::SliderBinding() : record(nullptr) {
    static_assert(offsetof(SliderBinding, link) == 0, "the link's address is the binding's");
}

SliderBinding::~SliderBinding() { link.Detach(); }

bool SliderBinding::Bind(HWND dialog, int labelId, int trackbarId, int editId, PROPDATA* record,
                         bool enable) {
    if (this->record != nullptr || record == nullptr) return false;
    this->record = record;
    if (record->Enb != 0) {
        const bool attached = link.Attach(dialog, labelId, trackbarId, editId, record->Min,
                                          record->Max, record->Value);
        // A slider whose trackbar is missing still shows its label and number.
        SetEnabled(attached ? link.Label() : GetDlgItem(dialog, labelId), enable);
        SetEnabled(attached ? link.Trackbar() : nullptr, enable);
        SetEnabled(attached ? link.Edit() : GetDlgItem(dialog, editId), enable);
        return attached;
    }
    ShowDlgItem(dialog, labelId, false);
    ShowDlgItem(dialog, trackbarId, false);
    ShowDlgItem(dialog, editId, false);
    return true;
}

bool SliderBinding::Enable(bool flag) {
    if (record == nullptr) return false;
    if (record->Enb != 0) {
        EnableWindow(link.Label(), flag ? TRUE : FALSE);
        EnableWindow(link.Trackbar(), flag ? TRUE : FALSE);
        EnableWindow(link.Edit(), flag ? TRUE : FALSE);
    }
    return true;
}

void SliderBinding::SetValue(int value) {
    if (RecordEnabled()) link.SetPos(value);
}

int SliderBinding::GetValue() const {
    int position = 0;
    if (RecordEnabled() && link.GetPos(&position)) return position;
    return 0;
}

void SliderBinding::Unbind() {
    link.Reset();
    record = nullptr;
}

// ---------------------------------------------------------------------------------------------

CheckBinding::CheckBinding() : dialog(nullptr), id(0), record(nullptr), box(nullptr) {}

bool CheckBinding::Bind(HWND dialog, int id, PROPDATA* record) {
    if (this->record != nullptr || record == nullptr) return false;
    this->record = record;
    if (record->Enb != 0) {
        HWND found = GetDlgItem(dialog, id);
        if (found == nullptr) return false;
        this->dialog = dialog;
        this->id = id;
        box = found;
        EnableWindow(box, TRUE);
        SetButtonCheck(box, record->Value != 0);
        return true;
    }
    ShowDlgItem(dialog, id, false);
    return true;
}

bool CheckBinding::SetCheck(bool flag) {
    if (record == nullptr || record->Enb == 0) return false;
    SetButtonCheck(FindDlgItem(dialog, id, box), flag);
    return true;
}

bool CheckBinding::GetCheck() const {
    if (record == nullptr || record->Enb == 0) return false;
    return ButtonChecked(FindDlgItem(dialog, id, box));
}

void CheckBinding::Unbind() {
    dialog = nullptr;
    id = 0;
    record = nullptr;
    box = nullptr;
}

// ---------------------------------------------------------------------------------------------

RadioGroupBinding::RadioGroupBinding()
    : dialog(nullptr), labelId(0), buttons(nullptr), count(0), record(nullptr) {}

RadioGroupBinding::~RadioGroupBinding() { delete[] buttons; }

bool RadioGroupBinding::Bind(HWND dialog, int labelId, const int* ids, int count,
                             PROPDATA* record) {
    if (ids == nullptr || count <= 0) return false;
    if (this->record != nullptr || record == nullptr) return false;
    this->record = record;
    if (record->Enb != 0) {
        this->dialog = dialog;
        buttons = new (std::nothrow) Button[count];
        if (buttons == nullptr) return false;
        this->count = count;
        this->labelId = labelId;
        EnableDlgItem(dialog, labelId, true);
        for (int i = 0; i < count; ++i) {
            buttons[i].id = ids[i];
            buttons[i].window = GetDlgItem(dialog, ids[i]);
            EnableWindow(buttons[i].window, TRUE);
        }
        Check(record->Value);
        return true;
    }
    ShowDlgItem(dialog, labelId, false);
    for (int i = 0; i < count; ++i) ShowDlgItem(dialog, ids[i], false);
    return true;
}

void RadioGroupBinding::Check(int index) const {
    for (int i = 0; i < count; ++i) {
        SetButtonCheck(FindDlgItem(dialog, buttons[i].id, buttons[i].window), i == index);
    }
}

bool RadioGroupBinding::SetIndex(int index) {
    if (record == nullptr) return false;
    Check(index);
    return true;
}

int RadioGroupBinding::GetIndex() const {
    if (record == nullptr) return 0;
    for (int i = 0; i < count; ++i) {
        if (ButtonChecked(FindDlgItem(dialog, buttons[i].id, buttons[i].window))) return i;
    }
    return -1;
}

void RadioGroupBinding::Unbind() {
    delete[] buttons;
    buttons = nullptr;
    count = 0;
    labelId = 0;
    dialog = nullptr;
    record = nullptr;
}

#include "DLL/page/Bindings.h"

#include <commctrl.h>
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

// ---------------------------------------------------------------------------------------------

TrackbarEditLink::TrackbarEditLink()
    : m_dialog(nullptr),
      m_labelId(0),
      m_trackbarId(0),
      m_editId(0),
      m_minimum(0),
      m_maximum(0),
      m_dragging(false),
      m_previousProc(nullptr) {}

TrackbarEditLink::~TrackbarEditLink() { Detach(); }

bool TrackbarEditLink::Attach(HWND dialog, int labelId, int trackbarId, int editId, int minimum,
                              int maximum, int position) {
    HWND trackbar = GetDlgItem(dialog, trackbarId);
    // Id 0 means "no edit box", not "the control whose id happens to be 0".
    HWND edit = editId != 0 ? GetDlgItem(dialog, editId) : nullptr;
    if (m_dialog != nullptr) return false;

    m_minimum = minimum;
    m_maximum = maximum;
    m_dragging = false;
    if (trackbar != nullptr) {
        m_labelId = labelId;
        m_trackbarId = trackbarId;
        // The trackbar takes 16-bit bounds only.
        const DWORD range = (static_cast<DWORD>(minimum) & 0xFFFFu) |
                            ((static_cast<DWORD>(maximum) & 0xFFFFu) << 16);
        SendMessageA(trackbar, TBM_SETRANGE, TRUE, static_cast<LPARAM>(range));
        SendMessageA(trackbar, TBM_SETPOS, TRUE, static_cast<LPARAM>(position));
        // The link must be findable before the first message reaches the subclass procedure.
        m_previousProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(trackbar, GWLP_WNDPROC));
        SetWindowLongPtrA(trackbar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrA(trackbar, GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(&TrackbarSubclassProc));
    }
    if (edit != nullptr) {
        m_editId = editId;
        SetDlgItemInt(dialog, editId, static_cast<UINT>(position), TRUE);
    }
    if (trackbar == nullptr) return false;
    m_dialog = dialog;
    return true;
}

void TrackbarEditLink::SetPos(int position) {
    if (m_dialog == nullptr) return;
    HWND trackbar = GetDlgItem(m_dialog, m_trackbarId);
    if (trackbar != nullptr) {
        SendMessageA(trackbar, TBM_SETPOS, TRUE, static_cast<LPARAM>(position));
    }
    if (m_editId != 0 && GetDlgItem(m_dialog, m_editId) != nullptr) {
        SetDlgItemInt(m_dialog, m_editId, static_cast<UINT>(position), TRUE);
    }
}

bool TrackbarEditLink::GetPos(int* position) const {
    if (m_dialog == nullptr || position == nullptr) return false;
    HWND trackbar = GetDlgItem(m_dialog, m_trackbarId);
    if (trackbar != nullptr) {
        *position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
        return true;
    }
    if (m_editId != 0 && GetDlgItem(m_dialog, m_editId) != nullptr) {
        BOOL ok = FALSE;
        const int number = static_cast<int>(GetDlgItemInt(m_dialog, m_editId, &ok, TRUE));
        if (!ok) return false;
        *position = number;
        return true;
    }
    return false;
}

void TrackbarEditLink::Detach() {
    if (m_dialog == nullptr) return;
    HWND trackbar = GetDlgItem(m_dialog, m_trackbarId);
    // Only undo our own subclassing: the handle may since belong to another window.
    if (trackbar == nullptr ||
        GetWindowLongPtrA(trackbar, GWLP_USERDATA) != reinterpret_cast<LONG_PTR>(this)) {
        return;
    }
    SetWindowLongPtrA(trackbar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
    SetWindowLongPtrA(trackbar, GWLP_USERDATA, 0);
}

void TrackbarEditLink::Reset() {
    Detach();
    m_dialog = nullptr;
    m_labelId = 0;
    m_trackbarId = 0;
    m_editId = 0;
    m_minimum = 0;
    m_maximum = 0;
    m_dragging = false;
    m_previousProc = nullptr;
}

void TrackbarEditLink::CopyPosition(HWND trackbar) {
    if (m_dialog == nullptr || m_editId == 0) return;
    const int position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
    SetDlgItemInt(m_dialog, m_editId, static_cast<UINT>(position), TRUE);
}

LRESULT CALLBACK TrackbarSubclassProc(HWND trackbar, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* link = reinterpret_cast<TrackbarEditLink*>(GetWindowLongPtrA(trackbar, GWLP_USERDATA));
    if (link == nullptr || link->m_previousProc == nullptr) {
        return DefWindowProcA(trackbar, message, wParam, lParam);
    }
    const LRESULT result = CallWindowProcA(link->m_previousProc, trackbar, message, wParam, lParam);

    // Decided after the trackbar has acted, so the copy reads the new position.
    bool copy = false;
    switch (message) {
    case WM_KEYDOWN:
        copy = wParam == VK_LEFT || wParam == VK_RIGHT;
        break;
    case WM_LBUTTONDOWN:
        if (!link->m_dragging) {
            link->m_dragging = true;
            copy = true;
        }
        break;
    case WM_MOUSEMOVE:
        copy = link->m_dragging;
        break;
    case WM_LBUTTONUP:
        if (link->m_dragging) {
            link->m_dragging = false;
            copy = true;
        }
        break;
    default:
        break;
    }
    if (copy) link->CopyPosition(trackbar);
    return result;
}

// ---------------------------------------------------------------------------------------------

SliderBinding::SliderBinding() : m_record(nullptr) {
    static_assert(offsetof(SliderBinding, m_link) == 0, "the link's address is the binding's");
}

SliderBinding::~SliderBinding() { m_link.Detach(); }

bool SliderBinding::Bind(HWND dialog, int labelId, int trackbarId, int editId, PROPDATA* record) {
    if (m_record != nullptr || record == nullptr) return false;
    m_record = record;
    if (record->Enb != 0) {
        EnableDlgItem(dialog, labelId, true);
        EnableDlgItem(dialog, trackbarId, true);
        EnableDlgItem(dialog, editId, true);
        return m_link.Attach(dialog, labelId, trackbarId, editId, record->Min, record->Max,
                             record->Value);
    }
    ShowDlgItem(dialog, labelId, false);
    ShowDlgItem(dialog, trackbarId, false);
    ShowDlgItem(dialog, editId, false);
    return true;
}

bool SliderBinding::Enable(bool flag) {
    if (m_record == nullptr) return false;
    if (m_record->Enb != 0) {
        EnableDlgItem(m_link.Dialog(), m_link.LabelId(), flag);
        EnableDlgItem(m_link.Dialog(), m_link.TrackbarId(), flag);
        EnableDlgItem(m_link.Dialog(), m_link.EditId(), flag);
    }
    return true;
}

void SliderBinding::SetValue(int value) {
    if (RecordEnabled()) m_link.SetPos(value);
}

int SliderBinding::GetValue() const {
    int position = 0;
    if (RecordEnabled() && m_link.GetPos(&position)) return position;
    return 0;
}

void SliderBinding::Unbind() {
    m_link.Reset();
    m_record = nullptr;
}

// ---------------------------------------------------------------------------------------------

CheckBinding::CheckBinding() : m_dialog(nullptr), m_id(0), m_record(nullptr) {}

bool CheckBinding::Bind(HWND dialog, int id, PROPDATA* record) {
    if (m_record != nullptr || record == nullptr) return false;
    m_record = record;
    if (record->Enb != 0) {
        if (GetDlgItem(dialog, id) == nullptr) return false;
        m_dialog = dialog;
        m_id = id;
        EnableDlgItem(dialog, id, true);
        SetDlgItemCheck(dialog, id, record->Value != 0);
        return true;
    }
    ShowDlgItem(dialog, id, false);
    return true;
}

bool CheckBinding::SetCheck(bool flag) {
    if (m_record == nullptr || m_record->Enb == 0) return false;
    SetDlgItemCheck(m_dialog, m_id, flag);
    return true;
}

bool CheckBinding::GetCheck() const {
    if (m_record == nullptr || m_record->Enb == 0) return false;
    return GetDlgItemCheck(m_dialog, m_id);
}

void CheckBinding::Unbind() {
    m_dialog = nullptr;
    m_id = 0;
    m_record = nullptr;
}

// ---------------------------------------------------------------------------------------------

RadioGroupBinding::RadioGroupBinding()
    : m_dialog(nullptr), m_labelId(0), m_ids(nullptr), m_count(0), m_record(nullptr) {}

RadioGroupBinding::~RadioGroupBinding() { delete[] m_ids; }

bool RadioGroupBinding::Bind(HWND dialog, int labelId, const int* ids, int count,
                             PROPDATA* record) {
    if (ids == nullptr || count <= 0) return false;
    if (m_record != nullptr || record == nullptr) return false;
    m_record = record;
    if (record->Enb != 0) {
        m_dialog = dialog;
        m_ids = new (std::nothrow) int[count];
        if (m_ids == nullptr) return false;
        m_count = count;
        m_labelId = labelId;
        EnableDlgItem(dialog, labelId, true);
        for (int i = 0; i < count; ++i) {
            EnableDlgItem(dialog, ids[i], true);
            m_ids[i] = ids[i];
        }
        CheckRadioIndex(dialog, ids, count, record->Value);
        return true;
    }
    ShowDlgItem(dialog, labelId, false);
    for (int i = 0; i < count; ++i) ShowDlgItem(dialog, ids[i], false);
    return true;
}

bool RadioGroupBinding::SetIndex(int index) {
    if (m_record == nullptr) return false;
    CheckRadioIndex(m_dialog, m_ids, m_count, index);
    return true;
}

int RadioGroupBinding::GetIndex() const {
    if (m_record == nullptr) return 0;
    return FindCheckedIndex(m_dialog, m_ids, m_count);
}

void RadioGroupBinding::Unbind() {
    delete[] m_ids;
    m_ids = nullptr;
    m_count = 0;
    m_labelId = 0;
    m_dialog = nullptr;
    m_record = nullptr;
}

#pragma once
// Ties dialog controls straight to records of the property table. A binding never owns its
// record; it re-reads Enb on every operation and does nothing for a disabled record.
#include <windows.h>
#include <cstddef>
#include "DLL/props/KOVALTIX.h"

// Thin wrappers over the dialog item calls; platform results are not reported.
void EnableDlgItem(HWND dialog, int id, bool flag);
void ShowDlgItem(HWND dialog, int id, bool flag);
void SetDlgItemCheck(HWND dialog, int id, bool flag);
// Low bit only: an indeterminate box reads as unchecked.
bool GetDlgItemCheck(HWND dialog, int id);
// Checks ids[index] and unchecks every other button; an index out of range unchecks all.
void CheckRadioIndex(HWND dialog, const int* ids, int count, int index);
// First checked button, or -1.
int FindCheckedIndex(HWND dialog, const int* ids, int count);
// The control with this id, kept in `kept` from one call to the next: every GetDlgItem asks the
// window server for the dialog's whole child list. Found again only once the kept one is gone.
HWND FindDlgItem(HWND dialog, int id, HWND& kept);

// The trackbar's window procedure while it is subclassed by a TrackbarEditLink.
LRESULT CALLBACK TrackbarSubclassProc(HWND trackbar, UINT message, WPARAM wParam, LPARAM lParam);

// Copies a trackbar's position into its edit box whenever the user moves the thumb (keys, mouse,
// wheel), and on every press, drag move, release and Left/Right key-down even when it stays put;
// the edit box's EN_UPDATE is how the dialog learns of the move.
class TrackbarEditLink {
public:
    TrackbarEditLink();
    ~TrackbarEditLink();
    TrackbarEditLink(const TrackbarEditLink&) = delete;
    TrackbarEditLink& operator=(const TrackbarEditLink&) = delete;

    bool Attach(HWND dialog, int labelId, int trackbarId, int editId, int minimum, int maximum,
                int position);
    void SetPos(int position);
    bool GetPos(int* position) const;
    // Gives the trackbar its window procedure back; the link stays attached.
    void Detach();
    // Detach, then forget the dialog so that the link can be attached again.
    void Reset();

    bool IsAttached() const { return dialog != nullptr; }
    HWND Dialog() const { return dialog; }
    int LabelId() const { return labelId; }
    int TrackbarId() const { return trackbarId; }
    int EditId() const { return editId; }
    // The controls themselves; null when the dialog has no such control (any more).
    HWND Label() const;
    HWND Trackbar() const;
    HWND Edit() const;

private:
    friend LRESULT CALLBACK TrackbarSubclassProc(HWND, UINT, WPARAM, LPARAM);
    void CopyPosition(HWND trackbar);
    // The position as the trackbar itself reports it, past this link's procedure.
    int Position(HWND trackbar) const;
    // The drag ends without a button-up: the capture was taken away.
    void EndLostDrag(HWND trackbar);

    HWND dialog;
    int labelId;
    int trackbarId;
    int editId;
    int minimum;
    int maximum;
    bool dragging;
    WNDPROC previousProc;
    // The controls as last found by id (see FindDlgItem).
    mutable HWND label;
    mutable HWND trackbar;
    mutable HWND edit;
};

// A label, a trackbar and a read-only edit box showing the trackbar's position.
class SliderBinding {
public:
    SliderBinding();
    ~SliderBinding();
    SliderBinding(const SliderBinding&) = delete;
    SliderBinding& operator=(const SliderBinding&) = delete;

    // enable: the state an enabled record's three controls are brought to (only those that
    // differ are changed), so that a page wanting them off need not enable them first.
    bool Bind(HWND dialog, int labelId, int trackbarId, int editId, PROPDATA* record,
              bool enable = true);
    bool Enable(bool flag);
    void SetValue(int value);
    int GetValue() const;
    // Lets go of the dialog: the trackbar gets its window procedure back, the binding is unbound.
    void Unbind();
    bool IsBound() const { return record != nullptr; }

private:
    bool RecordEnabled() const { return record != nullptr && record->Enb != 0; }

    // Must stay first: the link's address is the binding's address.
    TrackbarEditLink link;
    PROPDATA* record;
};

// One check box.
class CheckBinding {
public:
    CheckBinding();
    bool Bind(HWND dialog, int id, PROPDATA* record);
    bool SetCheck(bool flag);
    bool GetCheck() const;
    void Unbind();
    bool IsBound() const { return record != nullptr; }

private:
    HWND dialog;
    int id;
    PROPDATA* record;
    mutable HWND box;
};

// A label and a row of radio buttons whose checked index is the record's value.
class RadioGroupBinding {
public:
    RadioGroupBinding();
    ~RadioGroupBinding();
    RadioGroupBinding(const RadioGroupBinding&) = delete;
    RadioGroupBinding& operator=(const RadioGroupBinding&) = delete;

    bool Bind(HWND dialog, int labelId, const int* ids, int count, PROPDATA* record);
    bool SetIndex(int index);
    int GetIndex() const;
    void Unbind();
    bool IsBound() const { return record != nullptr; }

private:
    struct Button {
        int id;
        HWND window;  // as last found by id
    };
    void Check(int index) const;

    HWND dialog;
    int labelId;
    Button* buttons;
    int count;
    PROPDATA* record;
};

#include "DLL/page/ExtensionPage.h"

#include "DLL/page/Bindings.h"
#include "DLL/page/LocalizedResource.h"
#include "DLL/props/KOVALTIX.h"
#include "DLL/props/PropertyTable.h"

const int PowerLineButtonIds[3] = {IDC_POWERLINE_OUTDOOR, IDC_POWERLINE_50HZ, IDC_POWERLINE_60HZ};

bool PageBusy = false;

namespace {

// Declaration order is construction order; unload destroys them in reverse.
SliderBinding RedSlider;
SliderBinding BlueSlider;
CheckBinding AutoWhiteBalanceBox;
SliderBinding ExposureSlider;
CheckBinding AutoExposureBox;
SliderBinding GainSlider;
CheckBinding AutoGainBox;
RadioGroupBinding PowerLineGroup;
CheckBinding FlipBox;
CheckBinding MirrorBox;
CheckBinding PrivacyBox;
CheckBinding LowLightBox;

// Set once WM_INITDIALOG has bound the page. A page that the dialog manager destroys half
// built (one of its controls could not be created) never had a message loop of its own to end.
bool PageInitialised = false;

// The page this process shows, between its WM_INITDIALOG and its WM_DESTROY.
HWND ShownPage = nullptr;

PROPDATA& Record(PropertyIndex index) { return ExtensionPropertyTable[index]; }

long CheckState(const CheckBinding& box) { return box.GetCheck() ? 1 : 0; }

KOVALTIX* PageOwner(HWND page) {
    return reinterpret_cast<KOVALTIX*>(GetWindowLongPtrA(page, DWLP_USER));
}

// Raises PageBusy for the life of a handler, so that its own control updates are ignored.
class BusyScope {
public:
    BusyScope() { PageBusy = true; }
    ~BusyScope() { PageBusy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

// A camera without the automatic mode has it disabled, with a Value that is only a leftover
// default: its group is manual, as the hidden check box (read as 0) tells the Set_ methods.
bool Manual(PropertyIndex autoFlag) {
    return Record(autoFlag).Enb == 0 || Record(autoFlag).Value == 0;
}

void ShowWhiteBalance() {
    const bool manual = Manual(PropAutoWhiteBalance);
    RedSlider.SetValue(Record(PropWhiteBalanceRed).Value);
    BlueSlider.SetValue(Record(PropWhiteBalanceBlue).Value);
    RedSlider.Enable(manual);
    BlueSlider.Enable(manual);
}

void ShowExposure() {
    ExposureSlider.SetValue(Record(PropExposure).Value);
    ExposureSlider.Enable(Manual(PropAutoExposure));
}

void ShowGain() {
    GainSlider.SetValue(Record(PropGain).Value);
    GainSlider.Enable(Manual(PropAutoGain));
}

void OnWhiteBalanceChange(KOVALTIX& owner) {
    BusyScope busy;
    // Green has no control on the page: it always travels as its default.
    owner.Set_WhiteBalance(CheckState(AutoWhiteBalanceBox), RedSlider.GetValue(),
                           Record(PropWhiteBalanceGreen).Def, BlueSlider.GetValue());
    ShowWhiteBalance();
}

void OnExposureChange(KOVALTIX& owner) {
    BusyScope busy;
    owner.Set_Exposure(CheckState(AutoExposureBox), ExposureSlider.GetValue());
    ShowExposure();
}

void OnGainChange(KOVALTIX& owner) {
    BusyScope busy;
    owner.Set_Gain(CheckState(AutoGainBox), GainSlider.GetValue());
    ShowGain();
}

void OnPowerLineChange(KOVALTIX& owner) {
    BusyScope busy;
    owner.Set_PowerLine(PowerLineGroup.GetIndex());
}

void OnFlipChange(KOVALTIX& owner) {
    BusyScope busy;
    owner.Set_Flip(CheckState(FlipBox));
}

void OnMirrorChange(KOVALTIX& owner) {
    BusyScope busy;
    owner.Set_Mirror(CheckState(MirrorBox));
}

void OnPrivacyChange(KOVALTIX& owner) {
    BusyScope busy;
    owner.Set_PrivateMode(CheckState(PrivacyBox));
}

void OnLowLightChange(KOVALTIX& owner) {
    BusyScope busy;
    owner.Set_LowLightMode(CheckState(LowLightBox));
}

void OnDefault(HWND page, KOVALTIX& owner) {
    EnableDlgItem(page, IDC_DEFAULT, false);
    owner.Reset_WhiteBalance();
    owner.Reset_Exposure();
    owner.Reset_Gain();
    owner.Reset_PowerLine();
    owner.Reset_Flip();
    owner.Reset_Mirror();
    owner.Reset_PrivateMode();
    owner.Reset_LowLightMode();
    SendMessageA(page, UpdateMessage, 0, 0);
    EnableDlgItem(page, IDC_DEFAULT, true);
}

void ReloadPage(KOVALTIX* owner) {
    BusyScope busy;
    if (owner != nullptr) {
        owner->Get_WhiteBalance(&Record(PropAutoWhiteBalance), &Record(PropWhiteBalanceRed),
                                &Record(PropWhiteBalanceGreen), &Record(PropWhiteBalanceBlue));
    }
    AutoWhiteBalanceBox.SetCheck(Record(PropAutoWhiteBalance).Value != 0);
    ShowWhiteBalance();

    if (owner != nullptr) owner->Get_Exposure(&Record(PropAutoExposure), &Record(PropExposure));
    AutoExposureBox.SetCheck(Record(PropAutoExposure).Value != 0);
    ShowExposure();

    if (owner != nullptr) owner->Get_Gain(&Record(PropAutoGain), &Record(PropGain));
    AutoGainBox.SetCheck(Record(PropAutoGain).Value != 0);
    ShowGain();

    if (owner != nullptr) owner->Get_PowerLine(&Record(PropPowerLine));
    PowerLineGroup.SetIndex(Record(PropPowerLine).Value);

    if (owner != nullptr) owner->Get_Flip(&Record(PropFlip));
    FlipBox.SetCheck(Record(PropFlip).Value != 0);
    if (owner != nullptr) owner->Get_Mirror(&Record(PropMirror));
    MirrorBox.SetCheck(Record(PropMirror).Value != 0);
    if (owner != nullptr) owner->Get_PrivateMode(&Record(PropPrivacy));
    PrivacyBox.SetCheck(Record(PropPrivacy).Value != 0);
    if (owner != nullptr) owner->Get_LowLightMode(&Record(PropLowLight));
    LowLightBox.SetCheck(Record(PropLowLight).Value != 0);
}

void BindPage(HWND page) {
    // A slider is usable only while its group is manual; it starts that way rather than being
    // enabled and disabled again.
    const bool manualWhiteBalance = Manual(PropAutoWhiteBalance);
    AutoWhiteBalanceBox.Bind(page, IDC_WB_AUTO, &Record(PropAutoWhiteBalance));
    RedSlider.Bind(page, IDC_WB_RED_LABEL, IDC_WB_RED_SLIDER, IDC_WB_RED_EDIT,
                   &Record(PropWhiteBalanceRed), manualWhiteBalance);
    BlueSlider.Bind(page, IDC_WB_BLUE_LABEL, IDC_WB_BLUE_SLIDER, IDC_WB_BLUE_EDIT,
                    &Record(PropWhiteBalanceBlue), manualWhiteBalance);
    AutoExposureBox.Bind(page, IDC_EXPOSURE_AUTO, &Record(PropAutoExposure));
    ExposureSlider.Bind(page, IDC_EXPOSURE_LABEL, IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT,
                        &Record(PropExposure), Manual(PropAutoExposure));
    AutoGainBox.Bind(page, IDC_GAIN_AUTO, &Record(PropAutoGain));
    GainSlider.Bind(page, IDC_GAIN_LABEL, IDC_GAIN_SLIDER, IDC_GAIN_EDIT, &Record(PropGain),
                    Manual(PropAutoGain));
    PowerLineGroup.Bind(page, IDC_POWERLINE_LABEL, PowerLineButtonIds, 3, &Record(PropPowerLine));
    FlipBox.Bind(page, IDC_FLIP, &Record(PropFlip));
    MirrorBox.Bind(page, IDC_MIRROR, &Record(PropMirror));
    PrivacyBox.Bind(page, IDC_PRIVACY, &Record(PropPrivacy));
    LowLightBox.Bind(page, IDC_LOWLIGHT, &Record(PropLowLight));
}

// A page may be created again after this one: hand the controls back while they still exist
// (the page's WM_DESTROY comes before its children are destroyed).
void UnbindPage() {
    RedSlider.Unbind();
    BlueSlider.Unbind();
    AutoWhiteBalanceBox.Unbind();
    ExposureSlider.Unbind();
    AutoExposureBox.Unbind();
    GainSlider.Unbind();
    AutoGainBox.Unbind();
    PowerLineGroup.Unbind();
    FlipBox.Unbind();
    MirrorBox.Unbind();
    PrivacyBox.Unbind();
    LowLightBox.Unbind();
}

void OnCommand(HWND page, KOVALTIX* owner, WORD id, WORD code) {
    if (owner == nullptr) return;
    switch (id) {
    case IDC_WB_RED_EDIT:
    case IDC_WB_BLUE_EDIT:
        if (code == EN_UPDATE) OnWhiteBalanceChange(*owner);
        break;
    case IDC_WB_AUTO:
        if (code == BN_CLICKED) OnWhiteBalanceChange(*owner);
        break;
    case IDC_EXPOSURE_EDIT:
        if (code == EN_UPDATE) OnExposureChange(*owner);
        break;
    case IDC_EXPOSURE_AUTO:
        if (code == BN_CLICKED) OnExposureChange(*owner);
        break;
    case IDC_GAIN_EDIT:
        if (code == EN_UPDATE) OnGainChange(*owner);
        break;
    case IDC_GAIN_AUTO:
        if (code == BN_CLICKED) OnGainChange(*owner);
        break;
    case IDC_POWERLINE_OUTDOOR:
    case IDC_POWERLINE_50HZ:
    case IDC_POWERLINE_60HZ:
        if (code == BN_CLICKED) OnPowerLineChange(*owner);
        break;
    case IDC_FLIP:
        if (code == BN_CLICKED) OnFlipChange(*owner);
        break;
    case IDC_MIRROR:
        if (code == BN_CLICKED) OnMirrorChange(*owner);
        break;
    case IDC_PRIVACY:
        if (code == BN_CLICKED) OnPrivacyChange(*owner);
        break;
    case IDC_LOWLIGHT:
        if (code == BN_CLICKED) OnLowLightChange(*owner);
        break;
    case IDC_DEFAULT:
        OnDefault(page, *owner);
        break;
    default:
        break;
    }
}

}  // namespace

INT_PTR CALLBACK ExtensionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    KOVALTIX* owner = PageOwner(page);
    if (message == WM_INITDIALOG) {
        BindPage(page);
        PageInitialised = true;
        ShownPage = page;
        PageBusy = false;
        return TRUE;
    }
    if (message == WM_CLOSE) {
        if (owner != nullptr) owner->CloseExtensionPropDialog();
        return TRUE;
    }
    if (message == WM_DESTROY) {
        if (ShownPage == page) ShownPage = nullptr;
        UnbindPage();
        if (PageInitialised) PostQuitMessage(0);
        PageInitialised = false;
        return TRUE;
    }
    if (UpdateMessage != 0 && message == UpdateMessage) {
        ReloadPage(owner);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        if (!PageBusy) OnCommand(page, owner, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------------------------------------
// The page methods of the exported class.

HWND KOVALTIX::CreateExtensionPropDialog(HWND parent, char* title, unsigned long size) {
    if (instanceMutex == nullptr || pageWindow != nullptr) return nullptr;

    const int dialogType = static_cast<int>(reinterpret_cast<ULONG_PTR>(RT_DIALOG));
    pageTemplate = FindLocalizedResource(KovaltixModule, dialogType, IDD_EXTENSION_PAGE, nullptr);
    if (title != nullptr) LoadPageTitle(KovaltixModule, title, size);

    PageBusy = true;
    if (pageTemplate != nullptr) {
        pageWindow =
            CreateDialogIndirectParamA(KovaltixModule, static_cast<LPCDLGTEMPLATEA>(pageTemplate),
                                       parent, &ExtensionPageProc, 0);
    }
    if (pageWindow == nullptr) {
        // No page was built, so nothing else would ever lower the flag.
        PageBusy = false;
        return nullptr;
    }
    SetWindowLongPtrA(pageWindow, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(pageWindow, SW_SHOWNORMAL);
    return pageWindow;
}

void KOVALTIX::CloseExtensionPropDialog() {
    HWND page = pageWindow;
    if (page == nullptr) return;
    if (IsWindow(page) && GetWindowThreadProcessId(page, nullptr) != GetCurrentThreadId() &&
        PageOwner(page) == this) {
        // Only the page's own thread can destroy it; its WM_CLOSE comes back here on that thread.
        SendMessageA(page, WM_CLOSE, 0, 0);
        if (pageWindow != page) return;
    }
    pageWindow = nullptr;
    DestroyWindow(page);
}

HWND KOVALTIX::GetExtensionPropDialogHandle() { return pageWindow; }

void RefreshShownPage() {
    HWND page = ShownPage;
    if (page != nullptr && UpdateMessage != 0) PostMessageA(page, UpdateMessage, 0, 0);
}

void KOVALTIX::UpdateExtensionPropDialog() {
    if (pageWindow != nullptr) PostMessageA(pageWindow, UpdateMessage, 0, 0);
}

// The BKL, SPK and KEY pages.

#include <devtest/core/page_tables.h>
#include <devtest/core/sensor_text.h>
#include <devtest/pages/pages.h>
#include <platform/system/clock.h>
#include <platform/system/trace.h>

#include <string>

namespace devtest {

namespace win = hh::win;

CDlgBkl::CDlgBkl() : win::Dialog(BklPageTemplate()) {}

bool CDlgBkl::OnInitDialog() {
    win::Dialog::OnInitDialog();
    if (auto* slider = Item<win::Trackbar>(IDC_SLIDER_BACKLIGHT)) {
        slider->SetRange(1, 100, false);
        slider->SetPos(static_cast<int>(GetBackLightLevel()), true);
    }
    if (auto* combo = Item<win::ComboBox>(IDC_COMBO_SLEEP)) {
        for (const SleepTime& entry : kSleepTimes) {
            combo->AddString(entry.text);
        }
        combo->SetCurSel(SleepTimeIndex(GetBKLSuspendTimeout()));
    }
    return true;
}

win::LRESULT CDlgBkl::OnNotify(const win::Notification& notification) {
    if (notification.idFrom == IDC_SLIDER_BACKLIGHT && notification.code == win::NM_CUSTOMDRAW) {
        // The level is applied whenever the slider draws itself: while it is
        // dragged and at every repaint.
        if (auto* slider = Item<win::Trackbar>(IDC_SLIDER_BACKLIGHT)) {
            const int level = slider->GetPos();
            SetBackLightLevel(static_cast<uint32_t>(level));
            SetDlgItemInt(IDC_STATIC_LEVEL, level, true);
        }
    }
    return 0;
}

void CDlgBkl::OnCommand(int id, int code) {
    if (code != win::BN_CLICKED) {
        return;
    }
    if (id == IDC_BTN_SET_SLEEP) {
        const uint32_t seconds = SleepTimeSeconds(GetDlgItemText(IDC_COMBO_SLEEP));
        hh::sys::TracePrintf("nsleeptime = %d", static_cast<int>(seconds));
        SetBKLSuspendTimeout(seconds);
    } else if (id == IDC_BTN_SCREEN_OFF) {
        ScreenOnOff(0);
        hh::sys::Sleep(2000);
        ScreenOnOff(1);
    }
}

CDlgVol::CDlgVol() : win::Dialog(VolPageTemplate()) {}

namespace {

template <std::size_t N>
void FillList(win::ComboBox* combo, const std::array<ListItem, N>& items, int selected) {
    if (!combo) {
        return;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        combo->AddString(items[i].text);
        combo->SetItemData(static_cast<int>(i), items[i].value);
    }
    combo->SetCurSel(selected);
}

uint32_t SelectedValue(const win::ComboBox* combo) {
    if (!combo) {
        return 0;
    }
    const std::intptr_t data = combo->GetItemData(combo->GetCurSel());
    return data < 0 ? 0 : static_cast<uint32_t>(data);
}

} // namespace

bool CDlgVol::OnInitDialog() {
    win::Dialog::OnInitDialog();
    FillList(Item<win::ComboBox>(IDC_COMBO_BEEP_DURATION), DurationItems(), kBeepDurationStart);
    FillList(Item<win::ComboBox>(IDC_COMBO_PAUSE_DURATION), DurationItems(), kPauseDurationStart);
    FillList(Item<win::ComboBox>(IDC_COMBO_BEEP_COUNT), CountItems(), kBeepCountStart);
    if (auto* level = Item<win::Trackbar>(IDC_SLIDER_LEVEL)) {
        level->SetRange(0, 10, false);
        level->SetPos(1, true);
    }
    if (auto* scale = Item<win::Trackbar>(IDC_SLIDER_SCALE)) {
        scale->SetRange(0, 30, false);
    }
    return true;
}

win::LRESULT CDlgVol::OnNotify(const win::Notification& notification) {
    if (notification.code != win::NM_CUSTOMDRAW) {
        return 0;
    }
    const int shownIn = notification.idFrom == IDC_SLIDER_LEVEL   ? IDC_STATIC_LEVEL_VALUE
                        : notification.idFrom == IDC_SLIDER_SCALE ? IDC_STATIC_SCALE_VALUE
                                                                  : 0;
    if (shownIn != 0) {
        if (auto* slider = Item<win::Trackbar>(notification.idFrom)) {
            SetDlgItemText(shownIn, Widen(std::to_string(slider->GetPos())));
        }
    }
    return 0;
}

void CDlgVol::OnCommand(int id, int code) {
    if (code != win::BN_CLICKED) {
        return;
    }
    if (id == IDC_BTN_PLAY) {
        auto* level = Item<win::Trackbar>(IDC_SLIDER_LEVEL);
        auto* scale = Item<win::Trackbar>(IDC_SLIDER_SCALE);
        BuzzerBeep(level ? static_cast<uint32_t>(level->GetPos()) : 0,
                   static_cast<uint8_t>((scale ? scale->GetPos() : 0) & 0xFF),
                   SelectedValue(Item<win::ComboBox>(IDC_COMBO_BEEP_DURATION)),
                   SelectedValue(Item<win::ComboBox>(IDC_COMBO_BEEP_COUNT)),
                   SelectedValue(Item<win::ComboBox>(IDC_COMBO_PAUSE_DURATION)));
    } else if (id == IDC_BTN_STOP) {
        BuzzerStop();
    }
}

CDlgKey::CDlgKey() : win::Dialog(KeyPageTemplate()) {}

bool CDlgKey::PreTranslateMessage(const win::KeyMessage& key) {
    const HardwareKey* hardware = FindHardwareKey(key.virtualKey);
    if (!hardware || (key.message != win::WM_KEYDOWN && key.message != win::WM_KEYUP)) {
        return win::Dialog::PreTranslateMessage(key);
    }
    const bool down = key.message == win::WM_KEYDOWN;
    SetDlgItemText(hardware->buttonId, down ? kKeyPressedText : hardware->name);
    if (hardware->buttonId == IDC_BTN_KEY_BACK) {
        hh::sys::TracePrintf(down ? "IDC_BTN_KEY_BACK_down\r\n" : "IDC_BTN_KEY_BACK_UP\r\n");
    }
    return true;
}

} // namespace devtest

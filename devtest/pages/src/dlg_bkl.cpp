// The BKL page: backlight level, sleep time, the screen-off test.

#include <devif/halvix.h>
#include <devtest/core/page_tables.h>
#include <devtest/pages/dlg_bkl.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>
#include <platform/system/clock.h>
#include <platform/system/trace.h>

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

} // namespace devtest

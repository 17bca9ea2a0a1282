// The SPK page: buzzer sequences.

#include <devif/halvix.h>
#include <devtest/core/page_tables.h>
#include <devtest/core/sensor_text.h>
#include <devtest/pages/dlg_vol.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>

#include <array>
#include <string>

namespace devtest {

namespace win = hh::win;

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

} // namespace devtest

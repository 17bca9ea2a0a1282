// The System page: shut down, restart, recover, the battery line.

#include <devif/halvix.h>
#include <devtest/core/sensor_text.h>
#include <devtest/pages/dlg_system.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>
#include <platform/window/message_box.h>

namespace devtest {

namespace win = hh::win;

CDlgSystem::CDlgSystem() : win::Dialog(SystemPageTemplate()) {}

bool CDlgSystem::OnInitDialog() {
    win::Dialog::OnInitDialog();
    win::Dialog::SetTimer(TIMER_BATTERY, kBatteryMs);
    return true;
}

void CDlgSystem::OnTimer(std::uintptr_t id) {
    if (id == TIMER_BATTERY) {
        SetDlgItemText(IDC_STATIC_BATTERY, BatteryText(GetBatteryStatus()));
    }
}

void CDlgSystem::OnCommand(int id, int code) {
    if (code != win::BN_CLICKED) {
        return;
    }
    switch (id) {
    case IDC_BTN_SHUTDOWN:
        if (win::MessageBox(this, u"shutdown the device?", u"shutdown", win::MB_YESNO) ==
            win::IDYES) {
            ShutDown();
        }
        break;
    case IDC_BTN_REBOOT:
        if (win::MessageBox(this, u"Reboot the device?", u"Reboot", win::MB_YESNO) == win::IDYES) {
            Reboot();
        }
        break;
    case IDC_BTN_RECOVER:
        if (win::MessageBox(this, u"Restore the registry ?It's necessary to reboot.", u"Recover",
                            win::MB_YESNO) == win::IDYES) {
            Recover();
            Reboot();
        }
        break;
    default:
        break;
    }
}

} // namespace devtest

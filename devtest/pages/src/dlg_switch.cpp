// The Switch page: Bluetooth power.

#include <devif/halvix.h>
#include <devtest/pages/dlg_switch.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>

namespace devtest {

namespace win = hh::win;

CDlgSwitch::CDlgSwitch() : win::Dialog(SwitchPageTemplate()) {}

bool CDlgSwitch::OnInitDialog() {
    win::Dialog::OnInitDialog();
    m_nBTState = GetBTPower();
    if (m_nBTState == 0) {
        SetDlgItemText(IDC_BTN_BT, u"BT(Off)");
    }
    return true;
}

void CDlgSwitch::OnCommand(int id, int code) {
    if (code != win::BN_CLICKED || id != IDC_BTN_BT) {
        return;
    }
    if (m_nBTState == 1) {
        m_nBTState = 0;
        SetBTPower(0);
        SetDlgItemText(IDC_BTN_BT, u"BT(Off)");
    } else {
        m_nBTState = 1;
        SetBTPower(1);
        SetDlgItemText(IDC_BTN_BT, u"BT(On)");
    }
}

} // namespace devtest

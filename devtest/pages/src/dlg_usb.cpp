// The USB page: mass storage or serial synchronisation.

#include <devif/halvix.h>
#include <devtest/pages/dlg_usb.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>

namespace devtest {

namespace win = hh::win;

CDlgUSB::CDlgUSB() : win::Dialog(UsbPageTemplate()) {}

bool CDlgUSB::OnInitDialog() {
    win::Dialog::OnInitDialog();
    CheckDlgButton(GetUSBMode() != 0 ? IDC_RADIO_MASSSTORAGE : IDC_RADIO_ACTIVESYNC,
                   win::BST_CHECKED);
    return true;
}

void CDlgUSB::OnCommand(int id, int code) {
    if (code != win::BN_CLICKED) {
        return;
    }
    if (id == IDC_RADIO_MASSSTORAGE) {
        SetUSBMode(1);
    } else if (id == IDC_RADIO_ACTIVESYNC) {
        SetUSBMode(0);
    }
}

} // namespace devtest

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
    Refresh();
    return true;
}

void CDlgUSB::Refresh() {
    const bool massStorage = GetUSBMode() != 0;
    CheckDlgButton(IDC_RADIO_MASSSTORAGE, massStorage ? win::BST_CHECKED : win::BST_UNCHECKED);
    CheckDlgButton(IDC_RADIO_ACTIVESYNC, massStorage ? win::BST_UNCHECKED : win::BST_CHECKED);
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

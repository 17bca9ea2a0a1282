// The KEY page: which hardware key is held.

#include <devtest/core/page_tables.h>
#include <devtest/pages/dlg_key.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>
#include <platform/system/trace.h>

namespace devtest {

namespace win = hh::win;

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

// The System, DevInfo, USB and Switch pages.

#include <devtest/core/info_text.h>
#include <devtest/core/sensor_text.h>
#include <devtest/pages/pages.h>
#include <platform/system/trace.h>
#include <platform/window/message_box.h>

#include <array>

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

CDlgInfo::CDlgInfo() : win::Dialog(InfoPageTemplate()) {}

bool CDlgInfo::OnInitDialog() {
    win::Dialog::OnInitDialog();
    Refresh();
    return true;
}

void CDlgInfo::Refresh() {
    // The buffers start cleared and a failed query leaves its item empty, so
    // the page never shows bytes that no call wrote.
    DeviceInfo info;
    std::array<uint8_t, 16> uuid{};
    if (GetDeviceUUID(uuid.data(), static_cast<uint32_t>(uuid.size())) != 0) {
        info.uuid = uuid;
    }
    std::array<char16_t, 64> oem{};
    if (GetOemInfo(oem.data(), static_cast<uint32_t>(oem.size())) != 0) {
        info.oem = TextOfBuffer(oem);
    }
    std::array<char16_t, 64> platform{};
    if (GetPlatformInfo(platform.data(), static_cast<uint32_t>(platform.size())) != 0) {
        info.platform = TextOfBuffer(platform);
    }
    std::array<char16_t, 128> os{};
    if (GetOSVersion(os.data(), static_cast<uint32_t>(os.size() * sizeof(char16_t))) != 0) {
        info.osVersion = TextOfBuffer(os);
    }
    std::array<uint8_t, 32> card{};
    if (GetCardID(card.data(), static_cast<uint32_t>(card.size())) != 0) {
        std::array<uint8_t, 16> id{};
        std::copy_n(card.begin(), id.size(), id.begin());
        info.cardId = id;
        hh::sys::TracePrintf("%s", CardIdTrace(id).c_str());
    }
    SetDlgItemText(IDC_STATIC_INFO, BuildInfoText(info));
}

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

CDlgSwitch::CDlgSwitch() : win::Dialog(SwitchPageTemplate()) {}

bool CDlgSwitch::OnInitDialog() {
    win::Dialog::OnInitDialog();
    m_nBTState = GetBTPower();
    if (m_nBTState == 0) {
        SetDlgItemText(IDC_BTN_BT, u"BT(Off)");
    }
    return true;
}

void CDlgSwitch::Refresh() {
    m_nBTState = GetBTPower();
    SetDlgItemText(IDC_BTN_BT, m_nBTState == 0 ? u"BT(Off)" : u"BT(On)");
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

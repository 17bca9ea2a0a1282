// The DevInfo page: identifier, OEM, platform, OS version and card.

#include <devif/halvix.h>
#include <devtest/core/info_text.h>
#include <devtest/pages/dlg_info.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>
#include <platform/system/trace.h>

#include <algorithm>
#include <array>

namespace devtest {

namespace win = hh::win;

CDlgInfo::CDlgInfo() : win::Dialog(InfoPageTemplate()) {}

bool CDlgInfo::OnInitDialog() {
    win::Dialog::OnInitDialog();
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
    // A 128-character buffer, passed with the size 128: the library looks at
    // no more than 64 characters of it, as the device's page does.
    std::array<char16_t, 128> os{};
    if (GetOSVersion(os.data(), static_cast<uint32_t>(os.size())) != 0) {
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
    return true;
}

} // namespace devtest

#pragma once

#include <devtest/pages/dlg_key.h>
#include <platform/window/dialog.h>

#include <cstdint>
#include <string>

namespace devtest {

/// The full-screen notification window (template 140, a hidden popup).
class CDlgNotification : public hh::win::Dialog {
public:
    /// keyPage is the page that gets the focus when "cancel" closes the window.
    explicit CDlgNotification(CDlgKey& keyPage);

    /// Acts on a notification code. From another thread the code is posted
    /// to the UI thread (WM_SHOW_EVENT) and handled there, in order.
    void ShowEvent(uint32_t code);
    const std::u16string& Text() const { return m_strText; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnPaint(hh::win::Surface& surface) override;
    hh::win::LRESULT OnMessage(uint32_t message, hh::win::WPARAM wParam,
                               hh::win::LPARAM lParam) override;

private:
    void Answer(uint32_t selection);

    CDlgKey& m_keyPage;
    std::u16string m_strText;
    hh::win::Rect m_rcClient;
};

} // namespace devtest

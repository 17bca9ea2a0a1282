#pragma once

#include <platform/window/dialog.h>

namespace devtest {

/// "SPK": buzzer sequences.
class CDlgVol : public hh::win::Dialog {
public:
    CDlgVol();

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    hh::win::LRESULT OnNotify(const hh::win::Notification& notification) override;
};

} // namespace devtest

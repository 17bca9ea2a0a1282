#pragma once

#include <platform/window/dialog.h>

namespace devtest {

/// "BKL": backlight level, sleep time, the two-second screen-off test.
class CDlgBkl : public hh::win::Dialog {
public:
    CDlgBkl();

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    hh::win::LRESULT OnNotify(const hh::win::Notification& notification) override;
};

} // namespace devtest

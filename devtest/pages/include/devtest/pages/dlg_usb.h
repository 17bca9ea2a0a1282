#pragma once

#include <platform/window/dialog.h>

namespace devtest {

/// "USB": mass storage or serial synchronisation.
class CDlgUSB : public hh::win::Dialog {
public:
    CDlgUSB();
    /// Checks the button of the mode the library reports.
    void Refresh();

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
};

} // namespace devtest

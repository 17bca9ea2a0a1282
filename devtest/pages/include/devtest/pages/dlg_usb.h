#pragma once

#include <platform/window/dialog.h>

namespace devtest {

/// "USB": mass storage or serial synchronisation.
class CDlgUSB : public hh::win::Dialog {
public:
    CDlgUSB();

protected:
    /// Checks the button of the mode the library reports (the device is read once).
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
};

} // namespace devtest

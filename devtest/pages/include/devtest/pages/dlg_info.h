#pragma once

#include <platform/window/dialog.h>

namespace devtest {

/// "DevInfo": identifier, OEM, platform, OS version and card identifier.
class CDlgInfo : public hh::win::Dialog {
public:
    CDlgInfo();

protected:
    /// Collects the four items and the card's identifier and shows the text
    /// (the device is read once).
    bool OnInitDialog() override;
};

} // namespace devtest

#pragma once

#include <platform/window/dialog.h>

namespace devtest {

/// "DevInfo": identifier, OEM, platform, OS version and card identifier.
class CDlgInfo : public hh::win::Dialog {
public:
    CDlgInfo();
    /// Collects the four items and the card's identifier and shows the text.
    void Refresh();

protected:
    bool OnInitDialog() override;
};

} // namespace devtest

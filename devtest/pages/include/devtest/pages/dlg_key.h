#pragma once

#include <platform/window/dialog.h>

namespace devtest {

/// "KEY": which hardware key is held.
class CDlgKey : public hh::win::Dialog {
public:
    CDlgKey();

protected:
    bool PreTranslateMessage(const hh::win::KeyMessage& key) override;
};

} // namespace devtest

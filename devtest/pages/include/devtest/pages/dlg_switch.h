#pragma once

#include <platform/window/dialog.h>

#include <cstdint>

namespace devtest {

/// "Switch": Bluetooth power.
class CDlgSwitch : public hh::win::Dialog {
public:
    CDlgSwitch();
    uint32_t BTState() const { return m_nBTState; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;

private:
    uint32_t m_nBTState = 0;
};

} // namespace devtest

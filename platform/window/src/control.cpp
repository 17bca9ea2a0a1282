// What every control shares: its owner, id, style and its number texts.

#include "internal.h"

#include <platform/window/controls.h>
#include <platform/window/dialog.h>
#include <platform/window/edit_selection.h>

#include <QWidget>

namespace hh::win {

namespace detail {

void ApplyCommonStyle(QWidget* widget, const ControlTemplate& tpl) {
    if (tpl.style & WS_DISABLED) {
        widget->setEnabled(false);
    }
    if (!(tpl.style & WS_VISIBLE)) {
        widget->hide();
    }
}

} // namespace detail

Control::Control(Dialog* owner, const ControlTemplate& tpl)
    : m_owner(owner), m_id(tpl.id), m_style(tpl.style), m_class(tpl.windowClass) {}

void Control::Notify(int code) const {
    if (m_owner) {
        m_owner->DispatchCommand(m_id, code);
    }
}

bool Control::SetInt(long value, bool isSigned) {
    return SetWindowText(FormatDlgItemInt(value, isSigned));
}

long Control::GetInt(bool* translated, bool isSigned) const {
    return ParseDlgItemInt(GetWindowText(), isSigned, translated);
}

} // namespace hh::win

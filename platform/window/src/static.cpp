// Static texts over Qt labels.

#include "internal.h"

#include <platform/window/controls.h>

#include <QLabel>

namespace hh::win {

using detail::ApplyCommonStyle;
using detail::DrawnText;

Static::Static(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl), m_text(tpl.text) {
    auto* label = new QLabel(DrawnText(tpl.text), parent);
    label->setTextFormat(Qt::PlainText);
    const std::uint32_t kind = tpl.style & SS_TYPEMASK;
    Qt::Alignment align = kind == SS_CENTER  ? Qt::AlignHCenter
                          : kind == SS_RIGHT ? Qt::AlignRight
                                             : Qt::AlignLeft;
    align |= (tpl.style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop;
    label->setAlignment(align);
    label->setWordWrap(kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT);
    if (tpl.style & (WS_BORDER | SS_SUNKEN)) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    Attach(label);
    ApplyCommonStyle(label, tpl);
}

std::u16string Static::TextOnUi() const {
    return Widget() ? m_text : std::u16string();
}

void Static::SetTextOnUi(std::u16string_view text) {
    if (auto* label = qobject_cast<QLabel*>(Widget())) {
        // The label shows the drawn form; the window's text stays as it was set.
        m_text = text;
        label->setText(DrawnText(text));
    }
}

} // namespace hh::win

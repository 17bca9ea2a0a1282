// Static texts over Qt labels.

#include "internal.h"

#include <platform/window/controls.h>

#include <QLabel>

namespace hh::win {

using detail::ApplyCommonStyle;
using detail::FromQt;
using detail::ToQt;

Static::Static(Dialog* owner, const ControlTemplate& tpl, QWidget* parent) : Control(owner, tpl) {
    auto* label = new QLabel(ToQt(tpl.text), parent);
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
    const auto* label = qobject_cast<const QLabel*>(Widget());
    return label ? FromQt(label->text()) : std::u16string();
}

void Static::SetTextOnUi(std::u16string_view text) {
    if (auto* label = qobject_cast<QLabel*>(Widget())) {
        label->setText(ToQt(text));
    }
}

} // namespace hh::win

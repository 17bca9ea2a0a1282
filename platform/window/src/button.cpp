// Push buttons, check boxes, radio buttons and group boxes over Qt buttons.

#include "internal.h"

#include <platform/window/controls.h>
#include <platform/window/ui_thread.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace hh::win {

using detail::ApplyCommonStyle;
using detail::FromQt;
using detail::ToQt;

Button::Button(Dialog* owner, const ControlTemplate& tpl, QWidget* parent) : Control(owner, tpl) {
    const std::uint32_t kind = tpl.style & BS_TYPEMASK;
    const QString text = ToQt(tpl.text);
    QAbstractButton* button = nullptr;
    switch (kind) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE: {
        auto* box = new QCheckBox(text, parent);
        box->setTristate(kind == BS_3STATE || kind == BS_AUTO3STATE);
        button = box;
        break;
    }
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: {
        auto* radio = new QRadioButton(text, parent);
        radio->setAutoExclusive(kind == BS_AUTORADIOBUTTON);
        button = radio;
        break;
    }
    case BS_GROUPBOX: {
        auto* group = new QGroupBox(text, parent);
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        group->setFocusPolicy(Qt::NoFocus);
        Attach(group);
        ApplyCommonStyle(group, tpl);
        return;
    }
    default: {
        auto* push = new QPushButton(text, parent);
        // Enter is handled by the dialog manager, not by Qt's default buttons.
        push->setAutoDefault(false);
        push->setDefault(false);
        button = push;
        break;
    }
    }
    Attach(button);
    ApplyCommonStyle(button, tpl);
    const bool manual = kind == BS_CHECKBOX || kind == BS_3STATE || kind == BS_RADIOBUTTON;
    QObject::connect(button, &QAbstractButton::clicked, button, [this, button, manual] {
        if (manual) {
            // Buttons without the auto style leave their state to the program.
            const QSignalBlocker block(button);
            if (auto* box = qobject_cast<QCheckBox*>(button)) {
                box->setCheckState(box->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
            } else {
                button->setChecked(!button->isChecked());
            }
        }
        Notify(BN_CLICKED);
    });
}

bool Button::IsPushButton() const {
    const std::uint32_t kind = Style() & BS_TYPEMASK;
    return kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON;
}

bool Button::IsDefault() const {
    return (Style() & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

void Button::SetCheck(int state) {
    CallOnUiThread([&] {
        if (auto* box = qobject_cast<QCheckBox*>(Widget())) {
            box->setCheckState(state == BST_CHECKED         ? Qt::Checked
                               : state == BST_INDETERMINATE ? Qt::PartiallyChecked
                                                            : Qt::Unchecked);
        } else if (auto* radio = qobject_cast<QRadioButton*>(Widget())) {
            // Setting a radio button by program never clears its neighbours.
            const bool exclusive = radio->autoExclusive();
            radio->setAutoExclusive(false);
            radio->setChecked(state == BST_CHECKED);
            radio->setAutoExclusive(exclusive);
        }
    });
}

int Button::GetCheck() const {
    return CallOnUiThread([this] {
        if (auto* box = qobject_cast<QCheckBox*>(Widget())) {
            return box->checkState() == Qt::Checked            ? BST_CHECKED
                   : box->checkState() == Qt::PartiallyChecked ? BST_INDETERMINATE
                                                               : BST_UNCHECKED;
        }
        if (auto* radio = qobject_cast<QRadioButton*>(Widget())) {
            return radio->isChecked() ? BST_CHECKED : BST_UNCHECKED;
        }
        return BST_UNCHECKED;
    });
}

std::u16string Button::TextOnUi() const {
    if (auto* group = qobject_cast<QGroupBox*>(Widget())) {
        return FromQt(group->title());
    }
    auto* button = qobject_cast<QAbstractButton*>(Widget());
    return button ? FromQt(button->text()) : std::u16string();
}

void Button::SetTextOnUi(std::u16string_view text) {
    if (auto* group = qobject_cast<QGroupBox*>(Widget())) {
        group->setTitle(ToQt(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(Widget())) {
        button->setText(ToQt(text));
    }
}

void Button::Click() {
    CallOnUiThread([this] {
        if (auto* button = qobject_cast<QAbstractButton*>(Widget());
            button && button->isEnabled()) {
            button->click();
        }
    });
}

} // namespace hh::win

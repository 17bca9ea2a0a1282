// Combo boxes over Qt combo boxes.

#include "internal.h"

#include <platform/window/controls.h>
#include <platform/window/ui_thread.h>

#include <QComboBox>
#include <QLineEdit>

namespace hh::win {

using detail::ApplyCommonStyle;
using detail::FromQt;
using detail::ToQt;

ComboBox::ComboBox(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl) {
    auto* combo = new QComboBox(parent);
    const std::uint32_t kind = tpl.style & 0x3;
    combo->setEditable(kind == CBS_SIMPLE || kind == CBS_DROPDOWN);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCurrentIndex(-1);
    QObject::connect(combo, &QComboBox::activated, combo, [this] { Notify(CBN_SELCHANGE); });
    if (combo->lineEdit()) {
        QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo,
                         [this] { Notify(CBN_EDITCHANGE); });
    }
    Attach(combo);
    ApplyCommonStyle(combo, tpl);
}

bool ComboBox::IsEditable() const {
    const std::uint32_t kind = Style() & 0x3;
    return kind == CBS_SIMPLE || kind == CBS_DROPDOWN;
}

namespace {

QComboBox* Combo(QWidget* widget) {
    return qobject_cast<QComboBox*>(widget);
}

int InsertKeepingSelection(QComboBox* combo, int index, const QString& text) {
    const int before = combo->currentIndex();
    const QString editText = combo->isEditable() ? combo->currentText() : QString();
    const QSignalBlocker block(combo);
    combo->insertItem(index, text);
    // Inserting never selects an entry, also not the first one.
    if (before < 0) {
        combo->setCurrentIndex(-1);
        if (combo->isEditable()) {
            combo->setEditText(editText);
        }
    }
    return index;
}

} // namespace

int ComboBox::AddString(std::u16string_view text) {
    return CallOnUiThread([&] {
        QComboBox* combo = Combo(Widget());
        const QString item = ToQt(text);
        int index = combo->count();
        if (Style() & CBS_SORT) {
            index = 0;
            while (index < combo->count() &&
                   QString::compare(combo->itemText(index), item, Qt::CaseInsensitive) <= 0) {
                ++index;
            }
        }
        return InsertKeepingSelection(combo, index, item);
    });
}

int ComboBox::InsertString(int index, std::u16string_view text) {
    return CallOnUiThread([&] {
        QComboBox* combo = Combo(Widget());
        if (index < -1 || index > combo->count()) {
            return CB_ERR;
        }
        return InsertKeepingSelection(combo, index == -1 ? combo->count() : index, ToQt(text));
    });
}

int ComboBox::DeleteString(int index) {
    return CallOnUiThread([&] {
        QComboBox* combo = Combo(Widget());
        if (index < 0 || index >= combo->count()) {
            return CB_ERR;
        }
        const QSignalBlocker block(combo);
        combo->removeItem(index);
        return combo->count();
    });
}

void ComboBox::ResetContent() {
    CallOnUiThread([this] {
        const QSignalBlocker block(Widget());
        Combo(Widget())->clear();
    });
}

int ComboBox::GetCount() const {
    return CallOnUiThread([this] { return Combo(Widget())->count(); });
}

int ComboBox::SetCurSel(int index) {
    return CallOnUiThread([&] {
        QComboBox* combo = Combo(Widget());
        const QSignalBlocker block(combo);
        if (index < 0 || index >= combo->count()) {
            combo->setCurrentIndex(-1);
            return CB_ERR;
        }
        combo->setCurrentIndex(index);
        return index;
    });
}

int ComboBox::GetCurSel() const {
    return CallOnUiThread([this] {
        QComboBox* combo = Combo(Widget());
        const int index = combo->currentIndex();
        // An edited field that no longer shows the entry means no selection.
        if (index >= 0 && combo->isEditable() && combo->currentText() != combo->itemText(index)) {
            return CB_ERR;
        }
        return index < 0 ? CB_ERR : index;
    });
}

std::u16string ComboBox::GetLBText(int index) const {
    return CallOnUiThread([&] {
        QComboBox* combo = Combo(Widget());
        return index < 0 || index >= combo->count() ? std::u16string()
                                                    : FromQt(combo->itemText(index));
    });
}

bool ComboBox::SetItemData(int index, std::uintptr_t data) {
    return CallOnUiThread([&] {
        QComboBox* combo = Combo(Widget());
        if (index < 0 || index >= combo->count()) {
            return false;
        }
        combo->setItemData(index, QVariant::fromValue(static_cast<qulonglong>(data)));
        return true;
    });
}

std::intptr_t ComboBox::GetItemData(int index) const {
    return CallOnUiThread([&]() -> std::intptr_t {
        QComboBox* combo = Combo(Widget());
        if (index < 0 || index >= combo->count()) {
            return CB_ERR;
        }
        const QVariant data = combo->itemData(index);
        return data.isValid() ? static_cast<std::intptr_t>(data.toULongLong()) : 0;
    });
}

int ComboBox::FindStringExact(std::u16string_view text) const {
    return CallOnUiThread([&] {
        QComboBox* combo = Combo(Widget());
        const QString wanted = ToQt(text);
        for (int i = 0; i < combo->count(); ++i) {
            if (QString::compare(combo->itemText(i), wanted, Qt::CaseInsensitive) == 0) {
                return i;
            }
        }
        return CB_ERR;
    });
}

std::u16string ComboBox::TextOnUi() const {
    QComboBox* combo = Combo(Widget());
    if (combo->isEditable()) {
        return FromQt(combo->currentText());
    }
    return combo->currentIndex() < 0 ? std::u16string() : FromQt(combo->currentText());
}

void ComboBox::SetTextOnUi(std::u16string_view text) {
    QComboBox* combo = Combo(Widget());
    if (combo->isEditable()) {
        combo->setEditText(ToQt(text));
    }
}

int ComboBox::VisibleHeight(int) const {
    return Combo(Widget())->sizeHint().height();
}

} // namespace hh::win

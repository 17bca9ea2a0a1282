// Single- and multi-line edits over Qt line and text edits, with the
// selection kept in CR LF positions.

#include "internal.h"

#include <platform/window/controls.h>
#include <platform/window/edit_selection.h>
#include <platform/window/ui_thread.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>
#include <QTextCursor>

namespace hh::win {

using detail::ApplyCommonStyle;
using detail::FromQt;
using detail::ToQt;

struct Edit::State {
    bool multiLine = false;
    /// The multi-line text as the control keeps it (CR LF breaks).
    std::u16string text;
    bool syncing = false;
};

Edit::Edit(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl), m_state(std::make_unique<State>()) {
    m_state->multiLine = (tpl.style & ES_MULTILINE) != 0;
    const Qt::Alignment align = (tpl.style & ES_CENTER)  ? Qt::AlignHCenter
                                : (tpl.style & ES_RIGHT) ? Qt::AlignRight
                                                         : Qt::AlignLeft;
    if (m_state->multiLine) {
        auto* edit = new QPlainTextEdit(parent);
        edit->setReadOnly(tpl.style & ES_READONLY);
        edit->setVerticalScrollBarPolicy((tpl.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                  : Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy((tpl.style & WS_HSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                    : Qt::ScrollBarAlwaysOff);
        edit->setLineWrapMode((tpl.style & (ES_AUTOHSCROLL | WS_HSCROLL))
                                  ? QPlainTextEdit::NoWrap
                                  : QPlainTextEdit::WidgetWidth);
        edit->setTabChangesFocus(true);
        m_state->text = tpl.text;
        edit->setPlainText(ToQt(CrLfToDisplay(tpl.text)));
        QObject::connect(edit->document(), &QTextDocument::contentsChanged, edit, [this, edit] {
            if (!m_state->syncing) {
                m_state->text = DisplayToCrLf(FromQt(edit->toPlainText()));
            }
        });
        Attach(edit);
    } else {
        auto* edit = new QLineEdit(ToQt(tpl.text), parent);
        edit->setReadOnly(tpl.style & ES_READONLY);
        edit->setAlignment(align | Qt::AlignVCenter);
        if (tpl.style & ES_PASSWORD) {
            edit->setEchoMode(QLineEdit::Password);
        }
        if (tpl.style & ES_NUMBER) {
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]*")), edit));
        }
        QObject::connect(edit, &QLineEdit::textEdited, edit, [this] { Notify(EN_CHANGE); });
        Attach(edit);
    }
    ApplyCommonStyle(Widget(), tpl);
}

Edit::~Edit() = default;

bool Edit::IsMultiLine() const {
    return m_state->multiLine;
}

bool Edit::WantsReturn() const {
    return (Style() & ES_WANTRETURN) != 0;
}

std::u16string Edit::TextOnUi() const {
    if (m_state->multiLine) {
        return m_state->text;
    }
    auto* edit = qobject_cast<QLineEdit*>(Widget());
    return edit ? FromQt(edit->text()) : std::u16string();
}

void Edit::SetTextOnUi(std::u16string_view text) {
    if (auto* edit = qobject_cast<QPlainTextEdit*>(Widget())) {
        m_state->syncing = true;
        m_state->text = std::u16string(text);
        edit->setPlainText(ToQt(CrLfToDisplay(text)));
        m_state->syncing = false;
    } else if (auto* line = qobject_cast<QLineEdit*>(Widget())) {
        line->setText(ToQt(text));
        line->setCursorPosition(0);
    }
}

namespace {

EditSelection CurrentSelection(QWidget* widget, const std::u16string& text) {
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
        const QTextCursor cursor = edit->textCursor();
        return EditSelection{DisplayToCrLfPos(text, static_cast<std::size_t>(cursor.anchor())),
                             DisplayToCrLfPos(text, static_cast<std::size_t>(cursor.position()))};
    }
    auto* line = qobject_cast<QLineEdit*>(widget);
    if (!line) {
        return {};
    }
    if (!line->hasSelectedText()) {
        const auto caret = static_cast<std::size_t>(line->cursorPosition());
        return EditSelection{caret, caret};
    }
    const auto start = static_cast<std::size_t>(line->selectionStart());
    const auto end = start + static_cast<std::size_t>(line->selectedText().size());
    const bool caretAtStart = static_cast<std::size_t>(line->cursorPosition()) == start;
    return caretAtStart ? EditSelection{end, start} : EditSelection{start, end};
}

void ShowSelection(QWidget* widget, const std::u16string& text, EditSelection selection) {
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
        QTextCursor cursor = edit->textCursor();
        cursor.setPosition(static_cast<int>(CrLfToDisplayPos(text, selection.anchor)));
        cursor.setPosition(static_cast<int>(CrLfToDisplayPos(text, selection.caret)),
                           QTextCursor::KeepAnchor);
        edit->setTextCursor(cursor);
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        const int anchor = static_cast<int>(selection.anchor);
        const int caret = static_cast<int>(selection.caret);
        if (anchor == caret) {
            line->setCursorPosition(caret);
        } else {
            line->setSelection(anchor, caret - anchor);
        }
    }
}

} // namespace

void Edit::SetSel(long start, long end) {
    CallOnUiThread([&] {
        const std::u16string text = TextOnUi();
        const EditSelection current = CurrentSelection(Widget(), text);
        ShowSelection(Widget(), text, ApplySetSel(start, end, text.size(), current));
    });
}

void Edit::GetSel(long* start, long* end) const {
    const EditSelection selection =
        CallOnUiThread([this] { return CurrentSelection(Widget(), TextOnUi()); });
    if (start) {
        *start = static_cast<long>(selection.Start());
    }
    if (end) {
        *end = static_cast<long>(selection.End());
    }
}

void Edit::ReplaceSel(std::u16string_view inserted) {
    CallOnUiThread([&] {
        std::u16string text = TextOnUi();
        const EditSelection selection = CurrentSelection(Widget(), text);
        const std::size_t start = selection.Start();
        const std::size_t end = selection.End();
        if (auto* edit = qobject_cast<QPlainTextEdit*>(Widget())) {
            // A CR LF pair formed across the edges of the insertion changes the
            // breaks the widget shows, so the widget then takes the whole text.
            const bool joinsBefore = start > 0 && text[start - 1] == u'\r' && !inserted.empty() &&
                                     inserted.front() == u'\n';
            const bool joinsAfter = end < text.size() && text[end] == u'\n' && !inserted.empty() &&
                                    inserted.back() == u'\r';
            const bool splits = start > 0 && start < text.size() && text[start - 1] == u'\r' &&
                                text[start] == u'\n';
            const int displayStart = static_cast<int>(CrLfToDisplayPos(text, start));
            const int displayEnd = static_cast<int>(CrLfToDisplayPos(text, end));
            text.replace(start, end - start, inserted);
            m_state->syncing = true;
            m_state->text = text;
            if (joinsBefore || joinsAfter || splits) {
                edit->setPlainText(ToQt(CrLfToDisplay(text)));
            } else {
                QTextCursor cursor = edit->textCursor();
                cursor.setPosition(displayStart);
                cursor.setPosition(displayEnd, QTextCursor::KeepAnchor);
                cursor.insertText(ToQt(CrLfToDisplay(inserted)));
            }
            m_state->syncing = false;
            const std::size_t caret = start + inserted.size();
            ShowSelection(edit, m_state->text, EditSelection{caret, caret});
        } else if (auto* line = qobject_cast<QLineEdit*>(Widget())) {
            text.replace(start, end - start, inserted);
            line->setText(ToQt(text));
            line->setCursorPosition(static_cast<int>(start + inserted.size()));
        }
    });
}

void Edit::ScrollCaret() {
    CallOnUiThread([this] {
        if (auto* edit = qobject_cast<QPlainTextEdit*>(Widget())) {
            edit->ensureCursorVisible();
        }
    });
}

} // namespace hh::win

// The common controls over Qt widgets.

#include "internal.h"

#include <platform/window/controls.h>
#include <platform/window/dialog.h>
#include <platform/window/edit_selection.h>
#include <platform/window/ui_thread.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>

namespace hh::win {

using detail::FromQt;
using detail::ToQt;

namespace {

void ApplyCommonStyle(QWidget* widget, const ControlTemplate& tpl) {
    if (tpl.style & WS_DISABLED) {
        widget->setEnabled(false);
    }
    if (!(tpl.style & WS_VISIBLE)) {
        widget->hide();
    }
}

} // namespace

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

// Buttons ----------------------------------------------------------------

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

// Statics ----------------------------------------------------------------

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

// Edits ------------------------------------------------------------------

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

// Combo boxes ------------------------------------------------------------

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

// Tabs -------------------------------------------------------------------

namespace {

/// The tab control's area: the strip along one edge, the pages over the rest.
class TabArea : public QWidget {
public:
    TabArea(QWidget* parent, bool bottom) : QWidget(parent), m_bar(new QTabBar(this)) {
        m_bar->setShape(bottom ? QTabBar::RoundedSouth : QTabBar::RoundedNorth);
        m_bar->setDrawBase(true);
        m_bar->setExpanding(false);
        m_bottom = bottom;
    }
    QTabBar* Bar() const { return m_bar; }

protected:
    void resizeEvent(QResizeEvent*) override {
        const int h = m_bar->sizeHint().height();
        m_bar->setGeometry(0, m_bottom ? height() - h : 0, width(), h);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Mid));
        const int h = m_bar->sizeHint().height();
        painter.drawRect(m_bottom ? QRect(0, 0, width() - 1, height() - h)
                                  : QRect(0, h - 1, width() - 1, height() - h));
    }

private:
    QTabBar* m_bar;
    bool m_bottom = false;
};

QTabBar* Bar(QWidget* widget) {
    return static_cast<TabArea*>(widget)->Bar();
}

} // namespace

TabControl::TabControl(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl) {
    auto* area = new TabArea(parent, (tpl.style & TCS_BOTTOM) != 0);
    QObject::connect(area->Bar(), &QTabBar::currentChanged, area, [this](int) {
        Notification notification;
        notification.idFrom = GetDlgCtrlID();
        notification.code = TCN_SELCHANGE;
        notification.control = this;
        if (Owner()) {
            Owner()->DispatchNotify(notification);
        }
    });
    Attach(area);
    ApplyCommonStyle(area, tpl);
}

QWidget* TabControl::ClientWidget() const {
    return Widget();
}

int TabControl::InsertItem(int index, std::u16string_view text) {
    return CallOnUiThread([&] {
        QTabBar* bar = Bar(Widget());
        if (index < 0) {
            return -1;
        }
        const QSignalBlocker block(bar);
        return bar->insertTab(std::min(index, bar->count()), ToQt(text));
    });
}

int TabControl::GetItemCount() const {
    return CallOnUiThread([this] { return Bar(Widget())->count(); });
}

int TabControl::SetCurSel(int index) {
    return CallOnUiThread([&] {
        QTabBar* bar = Bar(Widget());
        const int previous = bar->currentIndex();
        if (index < 0 || index >= bar->count()) {
            return -1;
        }
        const QSignalBlocker block(bar);
        bar->setCurrentIndex(index);
        return previous;
    });
}

int TabControl::GetCurSel() const {
    return CallOnUiThread([this] { return Bar(Widget())->currentIndex(); });
}

void TabControl::SetCurFocus(int index) {
    CallOnUiThread([&] {
        QTabBar* bar = Bar(Widget());
        if (index >= 0 && index < bar->count() && index != bar->currentIndex()) {
            bar->setCurrentIndex(index); // notifies TCN_SELCHANGE through currentChanged
        }
    });
}

int TabControl::GetCurFocus() const {
    return GetCurSel();
}

// Trackbars --------------------------------------------------------------

namespace {

class TrackbarWidget : public QSlider {
public:
    TrackbarWidget(Trackbar* control, Qt::Orientation orientation, QWidget* parent)
        : QSlider(orientation, parent), m_control(control) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        const LRESULT answer = Stage(CDDS_PREPAINT, 0);
        if (answer & CDRF_NOTIFYITEMDRAW) {
            for (std::uintptr_t item : {TBCD_CHANNEL, TBCD_TICS, TBCD_THUMB}) {
                Stage(CDDS_ITEMPREPAINT, item);
            }
        }
        if (!(answer & CDRF_SKIPDEFAULT)) {
            QSlider::paintEvent(event);
        }
        if (answer & CDRF_NOTIFYPOSTPAINT) {
            Stage(CDDS_POSTPAINT, 0);
        }
    }

private:
    LRESULT Stage(std::uint32_t stage, std::uintptr_t item) {
        Dialog* owner = m_control->Owner();
        if (!owner) {
            return CDRF_DODEFAULT;
        }
        QPainter painter(this);
        Surface surface = detail::PainterSurface(painter, size());
        Notification notification;
        notification.idFrom = m_control->GetDlgCtrlID();
        notification.code = NM_CUSTOMDRAW;
        notification.control = m_control;
        notification.drawStage = stage;
        notification.itemSpec = item;
        notification.itemRect = Rect{0, 0, width(), height()};
        notification.surface = &surface;
        return owner->DispatchNotify(notification);
    }

    Trackbar* m_control;
};

QSlider* Slider(QWidget* widget) {
    return static_cast<QSlider*>(widget);
}

} // namespace

Trackbar::Trackbar(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl) {
    const bool vertical = (tpl.style & TBS_VERT) != 0;
    auto* slider = new TrackbarWidget(this, vertical ? Qt::Vertical : Qt::Horizontal, parent);
    slider->setInvertedAppearance(vertical);
    slider->setTickPosition((tpl.style & TBS_NOTICKS) ? QSlider::NoTicks : QSlider::TicksBelow);
    slider->setRange(0, 100);
    Attach(slider);
    ApplyCommonStyle(slider, tpl);
}

void Trackbar::SetRange(int minimum, int maximum, bool redraw) {
    CallOnUiThread([&] {
        Slider(Widget())->setRange(minimum, std::max(minimum, maximum));
        if (redraw) {
            Widget()->update();
        }
    });
}

int Trackbar::GetRangeMin() const {
    return CallOnUiThread([this] { return Slider(Widget())->minimum(); });
}

int Trackbar::GetRangeMax() const {
    return CallOnUiThread([this] { return Slider(Widget())->maximum(); });
}

void Trackbar::SetPos(int position, bool redraw) {
    CallOnUiThread([&] {
        Slider(Widget())->setValue(position);
        if (redraw) {
            Widget()->update();
        }
    });
}

int Trackbar::GetPos() const {
    return CallOnUiThread([this] { return Slider(Widget())->value(); });
}

// Progress bars ----------------------------------------------------------

ProgressBar::ProgressBar(Dialog* owner, const ControlTemplate& tpl, QWidget* parent)
    : Control(owner, tpl) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setOrientation((tpl.style & PBS_VERTICAL) ? Qt::Vertical : Qt::Horizontal);
    Attach(bar);
    ApplyCommonStyle(bar, tpl);
    Apply();
}

void ProgressBar::Apply() {
    auto* bar = static_cast<QProgressBar*>(Widget());
    // An empty range shows an empty bar (Qt would animate a busy indicator).
    bar->setRange(m_min, m_max > m_min ? m_max : m_min + 1);
    bar->setValue(m_pos);
}

LPARAM ProgressBar::SetRange(int minimum, int maximum) {
    return CallOnUiThread([&] {
        const LPARAM previous = MAKELPARAM(m_min, m_max);
        m_min = minimum;
        m_max = maximum;
        m_pos = std::clamp(m_pos, m_min, std::max(m_min, m_max));
        Apply();
        return previous;
    });
}

int ProgressBar::SetStep(int step) {
    return CallOnUiThread([&] { return std::exchange(m_step, step); });
}

int ProgressBar::SetPos(int position) {
    return CallOnUiThread([&] {
        const int previous = m_pos;
        m_pos = std::clamp(position, m_min, std::max(m_min, m_max));
        Apply();
        return previous;
    });
}

int ProgressBar::DeltaPos(int delta) {
    return CallOnUiThread([&] {
        const int previous = m_pos;
        m_pos = std::clamp(m_pos + delta, m_min, std::max(m_min, m_max));
        Apply();
        return previous;
    });
}

int ProgressBar::StepIt() {
    return CallOnUiThread([&] {
        const int previous = m_pos;
        m_pos += m_step;
        if (m_pos > m_max) {
            m_pos = m_min + (m_pos - m_max) % std::max(1, m_max - m_min);
        } else if (m_pos < m_min) {
            m_pos = m_max - (m_min - m_pos) % std::max(1, m_max - m_min);
        }
        Apply();
        return previous;
    });
}

int ProgressBar::GetPos() const {
    return CallOnUiThread([this] { return m_pos; });
}

int ProgressBar::GetRangeMin() const {
    return CallOnUiThread([this] { return m_min; });
}

int ProgressBar::GetRangeMax() const {
    return CallOnUiThread([this] { return m_max; });
}

} // namespace hh::win

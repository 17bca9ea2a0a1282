#pragma once
// The controls of dialog templates with the operations the programs use, named
// after the window system's messages. Notifications go to the owning dialog's
// handlers (Dialog::OnCommand, Dialog::OnNotify) on the UI thread.

#include <platform/window/dialog_template.h>
#include <platform/window/window.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace hh::win {

class Dialog;

class Control : public Window {
public:
    int GetDlgCtrlID() const { return m_id; }
    std::uint32_t Style() const { return m_style; }
    std::u16string ClassName() const override { return m_class; }
    Dialog* Owner() const { return m_owner; }

    /// SetDlgItemInt.
    bool SetInt(long value, bool isSigned = true);
    /// GetDlgItemInt.
    long GetInt(bool* translated = nullptr, bool isSigned = true) const;

protected:
    Control(Dialog* owner, const ControlTemplate& tpl);
    void Notify(int code) const;

private:
    Dialog* m_owner;
    int m_id;
    std::uint32_t m_style;
    std::u16string m_class;
};

/// Push buttons, check boxes, radio buttons and group boxes ("BUTTON").
/// Auto check boxes and auto radio buttons change their state before BN_CLICKED.
class Button : public Control {
public:
    Button(Dialog* owner, const ControlTemplate& tpl, QWidget* parent);
    /// BM_SETCHECK with BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE.
    void SetCheck(int state);
    /// BM_GETCHECK.
    int GetCheck() const;
    /// BM_CLICK: as if the user clicked it.
    void Click();
    bool IsPushButton() const;
    bool IsDefault() const;

protected:
    std::u16string TextOnUi() const override;
    void SetTextOnUi(std::u16string_view text) override;
};

/// Static texts ("STATIC"): every character of the text is drawn, control
/// characters as the box of a missing glyph.
class Static : public Control {
public:
    Static(Dialog* owner, const ControlTemplate& tpl, QWidget* parent);

protected:
    std::u16string TextOnUi() const override;
    void SetTextOnUi(std::u16string_view text) override;

private:
    std::u16string m_text;
};

/// Single-line and multi-line edits ("EDIT"). Line breaks are CR LF and count
/// two characters in every position and length.
class Edit : public Control {
public:
    Edit(Dialog* owner, const ControlTemplate& tpl, QWidget* parent);
    ~Edit() override;
    /// EM_SETSEL: -1 as start removes the selection, -1 as end selects to the
    /// end; positions past the end are the end.
    void SetSel(long start, long end);
    /// EM_GETSEL: start and end of the selection.
    void GetSel(long* start, long* end) const;
    /// EM_REPLACESEL: replaces the selection (or inserts at the caret); the caret follows the text.
    void ReplaceSel(std::u16string_view text);
    /// EM_SCROLLCARET.
    void ScrollCaret();
    bool IsMultiLine() const;
    bool WantsReturn() const;

protected:
    std::u16string TextOnUi() const override;
    void SetTextOnUi(std::u16string_view text) override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// Combo boxes, editable (CBS_DROPDOWN) or list only (CBS_DROPDOWNLIST).
class ComboBox : public Control {
public:
    ComboBox(Dialog* owner, const ControlTemplate& tpl, QWidget* parent);
    /// CB_ADDSTRING: at the sorted place with CBS_SORT, else at the end; returns the index.
    int AddString(std::u16string_view text);
    /// CB_INSERTSTRING: at index (-1 = end), never sorted; CB_ERR when out of range.
    int InsertString(int index, std::u16string_view text);
    /// CB_DELETESTRING; returns the remaining count or CB_ERR.
    int DeleteString(int index);
    /// CB_RESETCONTENT.
    void ResetContent();
    /// CB_GETCOUNT.
    int GetCount() const;
    /// CB_SETCURSEL: -1 clears the selection; returns the index or CB_ERR.
    int SetCurSel(int index);
    /// CB_GETCURSEL: the index or CB_ERR.
    int GetCurSel() const;
    /// CB_GETLBTEXT (empty when out of range).
    std::u16string GetLBText(int index) const;
    /// CB_SETITEMDATA / CB_GETITEMDATA (CB_ERR when out of range).
    bool SetItemData(int index, std::uintptr_t data);
    std::intptr_t GetItemData(int index) const;
    /// CB_FINDSTRINGEXACT (case-insensitive) from the start; CB_ERR when none.
    int FindStringExact(std::u16string_view text) const;
    bool IsEditable() const;

protected:
    std::u16string TextOnUi() const override;
    void SetTextOnUi(std::u16string_view text) override;
    int VisibleHeight(int requested) const override;
};

/// The tab control ("SysTabControl32"); child pages created with it as parent
/// lie in its area above (or, with TCS_BOTTOM, below) the tab strip.
class TabControl : public Control {
public:
    TabControl(Dialog* owner, const ControlTemplate& tpl, QWidget* parent);
    /// TCM_INSERTITEM with TCIF_TEXT; returns the index or -1.
    int InsertItem(int index, std::u16string_view text);
    int GetItemCount() const;
    /// TCM_SETCURSEL: selects without notifying; returns the previous index.
    int SetCurSel(int index);
    int GetCurSel() const;
    /// TCM_SETCURFOCUS: selects and, when the selection changes, sends TCN_SELCHANGE.
    void SetCurFocus(int index);
    /// TCM_GETCURFOCUS.
    int GetCurFocus() const;

protected:
    QWidget* ClientWidget() const override;
};

/// The trackbar ("msctls_trackbar32"). Each time it paints it sends
/// NM_CUSTOMDRAW with CDDS_PREPAINT, then the item and post-paint stages the
/// handler asks for.
class Trackbar : public Control {
public:
    Trackbar(Dialog* owner, const ControlTemplate& tpl, QWidget* parent);
    /// TBM_SETRANGE; the position is clamped into the new range.
    void SetRange(int minimum, int maximum, bool redraw = true);
    int GetRangeMin() const;
    int GetRangeMax() const;
    /// TBM_SETPOS: clamped into the range.
    void SetPos(int position, bool redraw = true);
    /// TBM_GETPOS.
    int GetPos() const;
};

/// The progress bar ("msctls_progress32").
class ProgressBar : public Control {
public:
    ProgressBar(Dialog* owner, const ControlTemplate& tpl, QWidget* parent);
    /// PBM_SETRANGE / PBM_SETRANGE32; returns the previous range as MAKELPARAM(min, max).
    LPARAM SetRange(int minimum, int maximum);
    /// PBM_SETSTEP; returns the previous step.
    int SetStep(int step);
    /// PBM_SETPOS (clamped); returns the previous position.
    int SetPos(int position);
    /// PBM_DELTAPOS; returns the previous position.
    int DeltaPos(int delta);
    /// PBM_STEPIT: adds the step and starts again from the minimum past the maximum.
    int StepIt();
    int GetPos() const;
    int GetRangeMin() const;
    int GetRangeMax() const;

private:
    void Apply();
    int m_min = 0;
    int m_max = 100;
    int m_pos = 0;
    int m_step = 10;
};

} // namespace hh::win

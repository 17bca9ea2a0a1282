// Capture to file: the save button and the log-all flush of the reader.

#include "capture_file.h"
#include "dlg_terminal_internal.h"

#include <platform/system/code_page.h>
#include <platform/system/error.h>
#include <platform/system/module_path.h>
#include <platform/window/message_box.h>
#include <terminal/core/capture_name.h>

#include <array>

namespace terminal {

using namespace hh::win;

namespace {

// A failed write names its cause, a full disk above all: "write file failed:
// the disk is full (ERROR_DISK_FULL, 112)".
std::u16string WriteFailedText(std::u16string_view what, uint32_t error) {
    return std::u16string(what) + u": " + hh::sys::Utf8ToUtf16(hh::sys::ErrorText(error));
}

} // namespace

std::u16string CDlgTerminal::GetProgramDir() {
    std::array<char16_t, 100> path{};
    const uint32_t length = hh::sys::GetModuleFileName(path);
    // A path cut short by the buffer names another folder: treat it as unreadable.
    if (length == 0 || length >= path.size()) {
        return {};
    }
    return ProgramDirOf(std::u16string_view(path.data(), length));
}

std::u16string CDlgTerminal::BuildSaveFileName() {
    return terminal::BuildSaveFileName(GetProgramDir(), CurrentLocalTime());
}

void CDlgTerminal::SaveDisplay() {
    const std::u16string name = BuildSaveFileName();
    const std::u16string text = GetDlgItemText(IDC_EDIT_RECEIVE);
    switch (WriteCaptureFile(name, text, CaptureMode::Create)) {
    case CaptureResult::Ok:
        MessageBox(this, name, u"ok", MB_OK);
        break;
    case CaptureResult::NoMemory:
        MessageBox(this, u"alloc space failed");
        break;
    case CaptureResult::OpenFailed:
        MessageBox(this, u"create file failed");
        break;
    case CaptureResult::WriteFailed:
        MessageBox(this, WriteFailedText(u"write file failed", hh::sys::GetLastError()));
        break;
    }
}

bool CDlgTerminal::ReaderSession::FlushDisplay(std::u16string_view text, uint32_t bytes) {
    // Taking the text, writing it and emptying the display happen in one
    // call on the UI thread, so that nothing arrives in between: the files
    // and the display together hold every byte once. The received text not
    // shown yet is written with the display as if it had been appended; it
    // only reaches the display when the capture fails, and stays there for
    // the next flush.
    CaptureResult result = CaptureResult::Ok;
    uint32_t error = 0;
    bool current = false;
    OnDialog(anchor, [&](CDlgTerminal& dlg) {
        if (!dlg.IsCurrent(*this)) {
            return;
        }
        current = true;
        if (bytes > 0) {
            dlg.m_nRxTotal += static_cast<int32_t>(bytes);
            dlg.SetDlgItemInt(IDC_RX_COUNT, dlg.m_nRxTotal);
        }
        if (dlg.m_nLogMode != 0) {
            if (dlg.m_nLogMode == 1) {
                dlg.m_strLogFile = BuildSaveFileName();
            }
            std::u16string shown = dlg.GetDlgItemText(IDC_EDIT_RECEIVE);
            shown += text;
            result = WriteCaptureFile(dlg.m_strLogFile, shown, CaptureMode::Append);
            error = hh::sys::GetLastError();
            dlg.m_nLogMode = 2;
        }
        if (result == CaptureResult::Ok) {
            dlg.SetDlgItemText(IDC_EDIT_RECEIVE, u"");
        } else if (auto* display = dlg.Item<Edit>(IDC_EDIT_RECEIVE)) {
            const long end = display->GetWindowTextLength();
            display->SetSel(end, end);
            display->ScrollCaret();
            display->ReplaceSel(text);
        }
    });
    // Reported from the reader without an owner window: the box holds the
    // reader until it is answered, never the UI thread.
    switch (result) {
    case CaptureResult::Ok:
        break;
    case CaptureResult::NoMemory:
        MessageBox(nullptr, u"alloc space failed", u"err", MB_OK);
        break;
    case CaptureResult::OpenFailed:
        MessageBox(nullptr, u"SaveAllDataToFile :open file failed", u"err", MB_OK);
        break;
    case CaptureResult::WriteFailed:
        MessageBox(nullptr, WriteFailedText(u"SaveAllDataToFile :write file failed", error), u"err",
                   MB_OK);
        break;
    }
    return current;
}

} // namespace terminal

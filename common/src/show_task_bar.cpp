#include <common/show_task_bar.h>
#include <platform/system/clock.h>
#include <platform/window/screen.h>

void ShowTaskBar(hh::win::Dialog& dialog, int showCommand, int heightChange) {
    using namespace hh::win;
    if (Window* taskBar = FindWindow(u"HHTaskBar")) {
        ShowWindow(taskBar, showCommand);
    }
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    Rect workArea{0, 0, width, height + heightChange};
    SystemParametersInfo(SPI_SETWORKAREA, 0, &workArea, SPIF_SENDCHANGE);
    hh::sys::Sleep(100);
    dialog.MoveWindow(0, 0, width, height, true);
}

// V5520Demo-screens OUTDIR: draws each page of V5520Demo, and the
// notification window, into PNG files in OUTDIR, as the device screen shows
// them. It runs the program's own windows on the simulated device of
// HANDHELD_ROOT; the pages' timers run for a second before each picture.

#include <devtest/core/page_tables.h>
#include <devtest/pages/pages.h>
#include <platform/system/event.h>
#include <platform/system/module_path.h>
#include <platform/window/application.h>
#include <platform/window/controls.h>
#include <platform/window/device_screen.h>
#include <platform/window/ui_thread.h>

#include <backend/device_backend.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr const char* kNames[] = {"system", "spk", "bkl",    "devinfo", "sensor",
                                  "key",    "usb", "switch", "gsensor"};

QWidget* ScreenWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == QStringLiteral("Handheld device")) {
            return w;
        }
    }
    return nullptr;
}

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(const std::filesystem::path& file) {
    QWidget* screen = ScreenWindow();
    if (!screen || !screen->grab().save(QString::fromStdString(file.string()))) {
        std::fprintf(stderr, "V5520Demo-screens: %s could not be written\n", file.c_str());
        return false;
    }
    std::printf("%s\n", file.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: V5520Demo-screens OUTDIR (needs HANDHELD_SCREEN)\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    hh::sys::SetModuleName(u"V5520Demo");
    if (!hh::backend::StartDevice("V5520Demo-screens")) {
        return 1;
    }
    hh::win::Application application(u"V5520Demo");
    hh::win::FollowDeviceDisplay();
    devtest::CDlgMain dlg;
    bool ok = true;
    hh::win::PostToUiThread([&] {
        auto* tab = dlg.Item<hh::win::TabControl>(devtest::IDC_TAB);
        for (int i = 0; i < 9; ++i) {
            tab->SetCurFocus(i);
            Wait(1100);
            ok = Save(out / (std::to_string(i) + "-" + kNames[i] + ".png")) && ok;
        }
        tab->SetCurFocus(0);
        dlg.Notification().ShowEvent(devtest::EVENTID_MASS_OR_CHARGING);
        Wait(300);
        ok = Save(out / "notification.png") && ok;
        dlg.Notification().ShowEvent(devtest::EVENTID_HIDE);
        dlg.EndDialog(hh::win::IDOK);
    });
    dlg.DoModal();
    return ok ? 0 : 1;
}

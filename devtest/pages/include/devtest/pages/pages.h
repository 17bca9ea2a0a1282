#pragma once
// V5520Demo's windows: the main dialog with its tab control and nine test
// pages, the hidden full-screen notification window, the notification
// watcher thread and the application object. The pages call the device
// interface library (libHalvix.so) and nothing else of the device; what they
// compute and show comes from devtest_core.
//
// Threads. Everything runs on the UI thread except the watcher, which waits
// on "EVENT_OVL_TARVEN" and hands each code to the notification window by a
// posted private message. The main dialog ends the watcher before its windows
// are destroyed.

#include <devtest/pages/compass_of_page.h>
#include <devtest/pages/dlg_bkl.h>
#include <devtest/pages/dlg_g_sensor.h>
#include <devtest/pages/dlg_info.h>
#include <devtest/pages/dlg_key.h>
#include <devtest/pages/dlg_main.h>
#include <devtest/pages/dlg_notification.h>
#include <devtest/pages/dlg_sensor.h>
#include <devtest/pages/dlg_switch.h>
#include <devtest/pages/dlg_system.h>
#include <devtest/pages/dlg_usb.h>
#include <devtest/pages/dlg_vol.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>
#include <devtest/pages/test_app.h>

#pragma once
// The dialog templates of V5520Demo's windows, in dialog units.

#include <platform/window/dialog_template.h>

namespace devtest {

hh::win::DialogTemplate MainDialogTemplate();
hh::win::DialogTemplate SystemPageTemplate();
hh::win::DialogTemplate InfoPageTemplate();
hh::win::DialogTemplate UsbPageTemplate();
hh::win::DialogTemplate SwitchPageTemplate();
hh::win::DialogTemplate NotificationTemplate();
hh::win::DialogTemplate SensorPageTemplate();
hh::win::DialogTemplate GSensorPageTemplate();
hh::win::DialogTemplate BklPageTemplate();
hh::win::DialogTemplate VolPageTemplate();
hh::win::DialogTemplate KeyPageTemplate();

} // namespace devtest

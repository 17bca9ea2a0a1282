// The application object.

#include <devtest/pages/dlg_main.h>
#include <devtest/pages/test_app.h>

namespace devtest {

bool CTestApp::InitInstance() {
    CDlgMain dlg;
    dlg.DoModal();
    return false;
}

} // namespace devtest

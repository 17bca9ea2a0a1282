// The compass as the Sensor page's calibration uses it.

#include <devtest/pages/compass_of_page.h>
#include <platform/window/message_box.h>

namespace devtest {

namespace win = hh::win;

int CompassOfPage::Open() {
    return compass ? compass->Open() : 0;
}
int CompassOfPage::Close() {
    return compass ? compass->Close() : 0;
}
int CompassOfPage::IsOpen() {
    return compass ? compass->IsOpen() : 0;
}
int CompassOfPage::SetModeMeasureSng() {
    return compass ? compass->SetModeMeasureSng() : 0;
}
int CompassOfPage::SetModePowerdown() {
    return compass ? compass->SetModePowerdown() : 0;
}
int CompassOfPage::SetModeConsciousCal_Hall() {
    return compass ? compass->SetModeConsciousCal_Hall() : 0;
}
int CompassOfPage::SetModeConsciousCal_Side() {
    return compass ? compass->SetModeConsciousCal_Side() : 0;
}
int CompassOfPage::GetDirection() {
    return compass ? compass->GetDirection() : 0;
}
int16_t CompassOfPage::GetAzimuth() {
    return compass ? compass->GetAzimuth() : 0;
}
int CompassOfPage::GetCurSampleCnt(int16_t& count) {
    return ::GetCurSampleCnt(&count);
}

} // namespace devtest

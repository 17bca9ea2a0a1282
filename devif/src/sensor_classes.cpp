// The sensor classes: one driver handle per object, kept open between calls.
// A copy gets a duplicate of the handle, so that each object closes its own.

#include <devif/halvix.h>
#include <platform/protocol/device_protocol.h>
#include <platform/system/stream_device.h>
#include <platform/system/trace.h>

#include <cstring>

using namespace hh::sys;
using namespace hh::protocol;

namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;

// The compass blocks shared by every compass object of the process.
uint32_t g_dwMeasureSngParam = 100;
uint8_t g_DirectionParams[48] = {};
uint8_t g_DirectionResult[20] = {};

void WriteDirectionParams() {
    const int16_t words[] = {0,  0,      0,                     // 32-bit 0, then 16-bit 0
                             1,  0,      0, 0, -1, 0, 0, 0, -1, // first matrix
                             -1, 0,      0, 0, -1, 0, 0, 0, -1, // second matrix
                             1,  0x1020, 0};
    static_assert(sizeof words == sizeof g_DirectionParams);
    std::memcpy(g_DirectionParams, words, sizeof words);
}

// Duplicates other's handle into a closed object's members.
void CopyHandle(HANDLE source, int open, HANDLE& handle, int& isOpen) {
    handle = INVALID_HANDLE_VALUE;
    isOpen = 0;
    if (open && source != INVALID_HANDLE_VALUE && DuplicateHandle(source, &handle)) {
        isOpen = 1;
    } else {
        handle = INVALID_HANDLE_VALUE;
    }
}

int CloseHandleOf(HANDLE& handle, int& isOpen) {
    if (isOpen && handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        isOpen = 0;
    }
    return 0;
}

int OpenDevice(HANDLE& handle, int& isOpen, const char16_t* name, uint32_t share, uint32_t flags) {
    if (isOpen) {
        return 1;
    }
    handle = CreateFileW(name, kReadWrite, share, nullptr, OPEN_EXISTING, flags, 0);
    isOpen = handle != INVALID_HANDLE_VALUE ? 1 : 0;
    return isOpen;
}

bool Request(HANDLE handle, uint32_t code, const void* in, uint32_t inSize, void* out,
             uint32_t outSize) {
    uint32_t returned = 0;
    return DeviceIoControl(handle, code, in, inSize, out, outSize, &returned, nullptr);
}

// The G-sensor and barometer pattern: no request on a closed object, and a
// refused request closes it.
template <typename Sensor>
int SensorRequest(Sensor& sensor, uint32_t code, const void* in, uint32_t inSize, void* out,
                  uint32_t outSize) {
    if (!sensor.m_bOpen || sensor.m_hDevice == INVALID_HANDLE_VALUE) {
        return 0;
    }
    if (!Request(sensor.m_hDevice, code, in, inSize, out, outSize)) {
        sensor.Close();
        return 0;
    }
    return 1;
}

enum class OnRefusal { StayOpen, Close };

// The compass pattern: open first, no request if that fails.
int CompassRequest(CCompass& compass, uint32_t code, const void* in, uint32_t inSize,
                   uint32_t outSize, OnRefusal refusal) {
    compass.Open();
    if (!compass.m_bOpen || compass.m_hDevice == INVALID_HANDLE_VALUE) {
        return 0;
    }
    uint8_t discarded[56] = {};
    bool ok = Request(compass.m_hDevice, code, in, inSize, outSize ? discarded : nullptr, outSize);
    if (!ok && refusal == OnRefusal::Close) {
        compass.Close();
    }
    return ok ? 1 : 0;
}

constexpr uint32_t kZero = 0;

} // namespace

// CCompass

CCompass::CCompass() : m_hDevice(INVALID_HANDLE_VALUE), m_bOpen(0) {}

CCompass::CCompass(const CCompass& other) {
    CopyHandle(other.m_hDevice, other.m_bOpen, m_hDevice, m_bOpen);
}

CCompass& CCompass::operator=(const CCompass& other) {
    if (this != &other) {
        Close();
        CopyHandle(other.m_hDevice, other.m_bOpen, m_hDevice, m_bOpen);
    }
    return *this;
}

CCompass::~CCompass() {
    Close();
}

int CCompass::IsOpen() const {
    return m_bOpen;
}

int CCompass::Open() {
    if (!m_bOpen) {
        WriteDirectionParams();
    }
    return OpenDevice(m_hDevice, m_bOpen, kCompassDevice, 0, FILE_ATTRIBUTE_SYSTEM_DEVICE);
}

int CCompass::Close() {
    return CloseHandleOf(m_hDevice, m_bOpen);
}

int CCompass::SetModeMeasureSng() {
    return CompassRequest(*this, IOCTL_ECD_MEASURE_SINGLE, &g_dwMeasureSngParam, 4, 0,
                          OnRefusal::StayOpen);
}

int CCompass::SetModePowerdown() {
    return CompassRequest(*this, IOCTL_ECD_POWERDOWN, nullptr, 0, 0, OnRefusal::Close);
}

int CCompass::SetHdoeLevel() {
    return CompassRequest(*this, IOCTL_ECD_HDOE_LEVEL, &kZero, 4, 0, OnRefusal::StayOpen);
}

int CCompass::SetModeConsciousCal_Hall() {
    return CompassRequest(*this, IOCTL_ECD_CAL_HALL, nullptr, 0, 0, OnRefusal::StayOpen);
}

int CCompass::SetHandsetFormation() {
    return CompassRequest(*this, IOCTL_ECD_HANDSET_FORMATION, &kZero, 4, 0, OnRefusal::Close);
}

int CCompass::GetHOffset() {
    return CompassRequest(*this, IOCTL_ECD_GET_HOFFSET, nullptr, 0, 6, OnRefusal::Close);
}

int CCompass::GetHData() {
    return CompassRequest(*this, IOCTL_ECD_GET_HDATA, &kZero, 4, 56, OnRefusal::Close);
}

int CCompass::GetDirection() {
    // On the current handle as it is: a closed object's request fails.
    uint8_t result[sizeof g_DirectionResult];
    std::memcpy(result, g_DirectionResult, sizeof result);
    if (!Request(m_hDevice, IOCTL_ECD_GET_DIRECTION, g_DirectionParams, sizeof g_DirectionParams,
                 result, sizeof result)) {
        return 0;
    }
    std::memcpy(g_DirectionResult, result, sizeof result);
    return 1;
}

int CCompass::GetDebugInformation() {
    return CompassRequest(*this, IOCTL_ECD_GET_DEBUG_INFO, nullptr, 0, 16, OnRefusal::Close);
}

int CCompass::GetAOffset() {
    return CompassRequest(*this, IOCTL_ECD_GET_AOFFSET, nullptr, 0, 6, OnRefusal::Close);
}

int CCompass::GetAData() {
    return CompassRequest(*this, IOCTL_ECD_GET_ADATA, &kZero, 4, 56, OnRefusal::Close);
}

int CCompass::FctTest() {
    Open();
    if (!m_bOpen || m_hDevice == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char16_t text[4004 / 2] = {};
    if (!Request(m_hDevice, IOCTL_ECD_FCT_TEST, nullptr, 0, text, sizeof text)) {
        Close();
        return 0;
    }
    text[4004 / 2 - 1] = u'\0';
    OutputDebugStringW(text);
    return 1;
}

int CCompass::SetModeConsciousCal_Side() {
    return CompassRequest(*this, IOCTL_ECD_CAL_SIDE, nullptr, 0, 0, OnRefusal::StayOpen);
}

int CCompass::SetModeConsciousCal_Upright() {
    return CompassRequest(*this, IOCTL_ECD_CAL_UPRIGHT, nullptr, 0, 0, OnRefusal::StayOpen);
}

int CCompass::SetModeConsciousCal() {
    return CompassRequest(*this, IOCTL_ECD_CAL_GENERAL, nullptr, 0, 0, OnRefusal::StayOpen);
}

int16_t CCompass::GetAzimuth() {
    int16_t azimuth = 0;
    std::memcpy(&azimuth, g_DirectionResult, sizeof azimuth);
    return azimuth;
}

// GSensorTst

GSensorTst::GSensorTst() : m_hDevice(INVALID_HANDLE_VALUE), m_bOpen(0) {}

GSensorTst::GSensorTst(const GSensorTst& other) {
    CopyHandle(other.m_hDevice, other.m_bOpen, m_hDevice, m_bOpen);
}

GSensorTst& GSensorTst::operator=(const GSensorTst& other) {
    if (this != &other) {
        Close();
        CopyHandle(other.m_hDevice, other.m_bOpen, m_hDevice, m_bOpen);
    }
    return *this;
}

GSensorTst::~GSensorTst() {
    Close();
}

int GSensorTst::IsOpen() const {
    return m_bOpen;
}

int GSensorTst::Open() {
    return OpenDevice(m_hDevice, m_bOpen, kGSensorDevice, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      FILE_FLAG_RANDOM_ACCESS);
}

int GSensorTst::Close() {
    return CloseHandleOf(m_hDevice, m_bOpen);
}

int GSensorTst::GetPosition(_XYZ_POSITION& position) {
    // Received whole first, so that a short answer leaves position untouched.
    _XYZ_POSITION reading = position;
    if (!SensorRequest(*this, IOCTL_SMB_GET_POSITION, nullptr, 0, &reading, sizeof reading)) {
        return 0;
    }
    position = reading;
    return 1;
}

// SensorParamTst

SensorParamTst::SensorParamTst() : m_hDevice(INVALID_HANDLE_VALUE), m_bOpen(0) {}

SensorParamTst::SensorParamTst(const SensorParamTst& other) {
    CopyHandle(other.m_hDevice, other.m_bOpen, m_hDevice, m_bOpen);
}

SensorParamTst& SensorParamTst::operator=(const SensorParamTst& other) {
    if (this != &other) {
        Close();
        CopyHandle(other.m_hDevice, other.m_bOpen, m_hDevice, m_bOpen);
    }
    return *this;
}

SensorParamTst::~SensorParamTst() {
    Close();
}

int SensorParamTst::IsOpen() const {
    return m_bOpen;
}

int SensorParamTst::Open() {
    return OpenDevice(m_hDevice, m_bOpen, kBarometerDevice, 0, FILE_ATTRIBUTE_SYSTEM_DEVICE);
}

int SensorParamTst::Close() {
    return CloseHandleOf(m_hDevice, m_bOpen);
}

int SensorParamTst::GetCurAltitude(int& altitude) {
    return SensorRequest(*this, IOCTL_PSA_GET_ALTITUDE, nullptr, 0, &altitude, sizeof altitude);
}

int SensorParamTst::GetCurPressure(int& pressure) {
    return SensorRequest(*this, IOCTL_PSA_GET_PRESSURE, nullptr, 0, &pressure, sizeof pressure);
}

int SensorParamTst::GetTemperature(int& temperature) {
    return SensorRequest(*this, IOCTL_PSA_GET_TEMPERATURE, nullptr, 0, &temperature,
                         sizeof temperature);
}

int SensorParamTst::SetCurAltitude(int& altitude) {
    return SensorRequest(*this, IOCTL_PSA_SET_ALTITUDE, &altitude, sizeof altitude, nullptr, 0);
}

int SensorParamTst::SetCurPressure(uint32_t& pressure) {
    return SensorRequest(*this, IOCTL_PSA_SET_PRESSURE, &pressure, sizeof pressure, nullptr, 0);
}

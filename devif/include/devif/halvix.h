#pragma once
// Halvix, the device interface library (libHalvix.so).
//
// Plain functions put the handheld's drivers and a few platform services
// behind one call each: a function that talks to a driver opens it by its
// device name, sends exactly one request, closes it and returns. Nothing is
// cached between calls, no lock is taken, and every function may be called
// from any thread at any time after the library is loaded. Results are 32-bit
// BOOLs (1 success, 0 failure) unless the line says otherwise; a driver that
// cannot be opened gives the function's failure value and nothing else
// happens. The three sensor classes keep one driver handle open between calls.
//
// Loading the library creates the buzzer's stop event and lets the platform
// load the device's backend at the first request of a program that registered
// none at its start (a program of another project: include <devif/halvix.h>,
// build with `pkg-config --cflags --libs halvix`, and the calls reach the
// device of HANDHELD_ROOT). It does nothing else.
// The only text the library prints is "GetCID Error:%d\r\n" (GetCardID).

#include <platform/system/device_io.h>

#include <cstdint>

#define HALVIX_API __attribute__((visibility("default")))

/// The G-sensor reading as the driver writes it: 6 bytes, signed X, Y, Z.
struct _XYZ_POSITION {
    int16_t X;
    int16_t Y;
    int16_t Z;
};

extern "C" {

// Display and backlight ("bkl1:", registry ControlPanel\BackLight)

/// Sends the backlight level to the driver; 1 once sent (outcome ignored), 0 if "bkl1:" can't be
/// opened.
HALVIX_API int SetBackLightLevel(uint32_t level);
/// The driver's backlight level; 0 if "bkl1:" can't be opened or doesn't answer.
HALVIX_API uint32_t GetBackLightLevel();
/// Stores the seconds as "ACTimeout" and "BatteryTimeout"; 1 if the key could be created or opened,
/// else 0.
HALVIX_API int SetBKLSuspendTimeout(uint32_t seconds);
/// "ACTimeout" in seconds; 0 if that value is absent, 15 if the key can't be opened.
HALVIX_API uint32_t GetBKLSuspendTimeout();
/// Screen on (on != 0) or off; the request's result, 0 if "bkl1:" can't be opened.
HALVIX_API int ScreenOnOff(int on);

// Identity (kernel requests, system parameters)

/// Copies the 16-byte device identifier into buffer; 0 if buffer is null, size < 16 or the query
/// fails.
HALVIX_API int GetDeviceUUID(uint8_t* buffer, uint32_t size);
/// The OEM text (size in characters, passed on as the platform's uiParam); the platform call's
/// result.
HALVIX_API int GetOemInfo(char16_t* buffer, uint32_t size);
/// The platform text (size in characters, passed on as the platform's uiParam); the platform call's
/// result.
HALVIX_API int GetPlatformInfo(char16_t* buffer, uint32_t size);
/// The OS version text (size in bytes), each "&" turned into a line feed; the kernel request's
/// result.
HALVIX_API int GetOSVersion(char16_t* buffer, uint32_t size);

// Power ("PWR1:", power status)

/// Tells "PWR1:" (request 3) and forces a suspend; the suspend call's result (0 = accepted), -1 if
/// "PWR1:" can't be opened.
HALVIX_API int ShutDown();
/// Tells "PWR1:" (request 7) if it opens, then asks the kernel to restart; the restart call's
/// result.
HALVIX_API int Reboot();
/// Asks "PWR1:" to restore the registry at the next restart; the request's result, 0 if it can't be
/// opened.
HALVIX_API int Recover();
/// The USB adapter status word from "PWR1:"; 0 if it can't be opened or doesn't answer.
HALVIX_API uint32_t GetUSBAdaptStus();
/// -1 while charging (battery flag exactly 8), else the charge in percent; 0 without a battery
/// figure or on failure.
HALVIX_API int GetBatteryStatus();
/// 1 on line power (ACLineStatus 1); 0 otherwise or if the power status can't be read.
HALVIX_API int IsPowerAC();

// USB function controller ("UFN1:")

/// 0 = serial mode ("Serial_Class"), 1 = mass-storage mode; 0 if "UFN1:" can't be opened or refuses
/// the query.
HALVIX_API int GetUSBMode();
/// Asks for mass storage (mode != 0) or serial mode; 1 once sent (outcome ignored), 0 if "UFN1:"
/// can't be opened.
HALVIX_API int SetUSBMode(int mode);

// Bluetooth ("ANT1:", registry Drivers\BuiltIn\ANT)

/// "BTPower" (non-zero = on); 0 if the value is absent, 1 if the key can't be opened.
HALVIX_API uint32_t GetBTPower();
/// Switches Bluetooth power; the request's result, 0 if "ANT1:" can't be opened.
HALVIX_API int SetBTPower(uint32_t on);

// Compass calibration counts (registry Drivers\BuiltIn\Compass, "PWR1:")

/// "Calibration_Horizontal"; 0 if the value is absent, 1 if the key can't be opened.
HALVIX_API uint32_t GetAdjustXYSampleCnt();
/// "Calibration_Vertical"; 0 if the value is absent, 1 if the key can't be opened.
HALVIX_API uint32_t GetAdjustXZSampleCnt();
/// Writes the count the running calibration has reached; the request's result, 0 if "PWR1:" can't
/// be opened.
HALVIX_API int GetCurSampleCnt(int16_t* count);

// Storage card ("PWR1:", files on \SDMMC)

/// Reads the card's CID record (up to size bytes) and prints "GetCID Error:%d\r\n"; 0 if size < 16
/// or "PWR1:" can't be opened.
HALVIX_API int GetCardID(uint8_t* buffer, uint32_t size);
/// Puts autorun.inf and Vekta.ico from \Windows on the card (never replacing them), read-only,
/// hidden and system; 1 when both are in place.
HALVIX_API int UpdateDriveIcon();

// Buzzer ("BKL1:", a beep thread of the library's own)

/// Plays beepCount beeps, each a pause then a tone, on a thread of its own; ignored while a
/// sequence runs; level 0 acts as BuzzerStop.
HALVIX_API void BuzzerBeep(uint32_t level, uint8_t scale, uint32_t beepDuration, uint32_t beepCount,
                           uint32_t pauseDuration);
/// Ends a running sequence and silences the buzzer.
HALVIX_API void BuzzerStop();

} // extern "C"

/// Sends one tone request (level 0 silences the buzzer); does nothing if "BKL1:" can't be opened.
HALVIX_API void SpeakerBeepInternal(uint32_t level, uint8_t scale);

// The sensor classes. Each object holds one driver handle: m_hDevice is
// INVALID_HANDLE_VALUE and m_bOpen 0 while closed. A copy gets a handle of
// its own to the same open driver, so each object closes only its own. An
// object is used from one thread at a time.

/// The electronic compass ("ECD1:"). Every method but GetDirection and
/// GetAzimuth opens the driver first and returns 0 without a request if it
/// can't; methods return the request's result.
class HALVIX_API CCompass {
public:
    /// Closed; opens nothing.
    CCompass();
    /// Open on a handle of its own when other is open.
    CCompass(const CCompass& other);
    /// Closes its own handle, then copies other's state on a handle of its own.
    CCompass& operator=(const CCompass& other);
    /// Closes the handle.
    virtual ~CCompass();

    /// m_bOpen.
    int IsOpen() const;
    /// 1 if already open; otherwise opens "ECD1:" and returns whether it opened.
    int Open();
    /// Closes an open handle; always 0.
    int Close();

    /// Single measurement mode (request 6000, input 100).
    int SetModeMeasureSng();
    /// Power-down mode (6001); a refused request closes the object.
    int SetModePowerdown();
    /// Hdoe level 0 (6002).
    int SetHdoeLevel();
    /// Arms the Hall (XY plane) calibration (6003).
    int SetModeConsciousCal_Hall();
    /// Handset formation 0 (6004); a refused request closes the object.
    int SetHandsetFormation();
    /// Asks for the Hall offset (6005, answer discarded); a refused request closes the object.
    int GetHOffset();
    /// Asks for the Hall data (6006, answer discarded); a refused request closes the object.
    int GetHData();
    /// Fetches the heading on the current handle without opening (6007); afterwards GetAzimuth has
    /// it.
    int GetDirection();
    /// Asks for debug information (6008, answer discarded); a refused request closes the object.
    int GetDebugInformation();
    /// Asks for the acceleration offset (6009, answer discarded); a refused request closes the
    /// object.
    int GetAOffset();
    /// Asks for the acceleration data (6010, answer discarded); a refused request closes the
    /// object.
    int GetAData();
    /// Runs the driver's self test (6011) and writes its text to the debug output; a refused
    /// request closes the object.
    int FctTest();
    /// Arms the Side (XZ plane) calibration (6012).
    int SetModeConsciousCal_Side();
    /// Arms the Upright calibration (6013).
    int SetModeConsciousCal_Upright();
    /// Arms the general calibration (0x01010FC4).
    int SetModeConsciousCal();
    /// Degrees of the last successful GetDirection of any compass object; 0 before the first.
    int16_t GetAzimuth();

    hh::sys::HANDLE m_hDevice;
    int m_bOpen;
};

/// The three-axis acceleration sensor ("SMB1:"). Methods do not open the
/// driver; on a closed object they return 0 at once, and a refused request
/// closes the object.
class HALVIX_API GSensorTst {
public:
    /// Closed; opens nothing.
    GSensorTst();
    /// Open on a handle of its own when other is open.
    GSensorTst(const GSensorTst& other);
    /// Closes its own handle, then copies other's state on a handle of its own.
    GSensorTst& operator=(const GSensorTst& other);
    /// Closes the handle.
    virtual ~GSensorTst();

    /// m_bOpen.
    int IsOpen() const;
    /// 1 if already open; otherwise opens "SMB1:" and returns whether it opened.
    int Open();
    /// Closes an open handle; always 0.
    int Close();

    /// Reads X, Y, Z into position (request 0x01012F8C); 0 leaves position untouched.
    int GetPosition(_XYZ_POSITION& position);

    hh::sys::HANDLE m_hDevice;
    int m_bOpen;
};

/// The barometric sensor ("PSA1:"): altitude in metres, pressure in
/// hundredths of a millibar, temperature in tenths of a degree Celsius.
/// Methods do not open the driver; on a closed object they return 0 at once,
/// and a refused request closes the object.
class HALVIX_API SensorParamTst {
public:
    /// Closed; opens nothing.
    SensorParamTst();
    /// Open on a handle of its own when other is open.
    SensorParamTst(const SensorParamTst& other);
    /// Closes its own handle, then copies other's state on a handle of its own.
    SensorParamTst& operator=(const SensorParamTst& other);
    /// Closes the handle.
    virtual ~SensorParamTst();

    /// m_bOpen.
    int IsOpen() const;
    /// 1 if already open; otherwise opens "PSA1:" and returns whether it opened.
    int Open();
    /// Closes an open handle; always 0.
    int Close();

    /// Current altitude in metres (request 2000).
    int GetCurAltitude(int& altitude);
    /// Current pressure in hundredths of a millibar (2001).
    int GetCurPressure(int& pressure);
    /// Temperature in tenths of a degree Celsius (2002).
    int GetTemperature(int& temperature);
    /// Hands the driver the current altitude (2003).
    int SetCurAltitude(int& altitude);
    /// Hands the driver the current pressure (2004).
    int SetCurPressure(uint32_t& pressure);

    hh::sys::HANDLE m_hDevice;
    int m_bOpen;
};

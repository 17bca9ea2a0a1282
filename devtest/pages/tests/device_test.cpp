// The pages on the simulated device: what devctl sets shows on the pages, and
// what the pages do reaches the drivers.

#include "page_fixture.h"

#include <devtest/core/calibration.h>
#include <devtest/core/info_text.h>
#include <devtest/core/page_tables.h>
#include <devtest/core/sensor_text.h>
#include <platform/system/device_display.h>
#include <platform/system/event.h>
#include <platform/system/stream_device.h>
#include <platform/window/controls.h>
#include <platform/window/device_screen.h>
#include <simulator/backlight/backlight_driver.h>
#include <simulator/bluetooth/bluetooth_driver.h>
#include <simulator/card/storage_card.h>
#include <simulator/compass/compass_driver.h>
#include <simulator/device/simulated_device.h>
#include <simulator/kernel/simulated_kernel.h>
#include <simulator/sensors/sensor_drivers.h>
#include <simulator/state/driver_support.h>
#include <simulator/usb/usb_function_driver.h>

#include <thread>

namespace devtest::test {
namespace {

namespace sys = hh::sys;
namespace sim = hh::sim;
namespace win = hh::win;
namespace wt = hh::win::testing;
using namespace std::chrono_literals;

class DeviceTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        win::FollowDeviceDisplay();
    }
    /// Advances until pred holds, a quarter of a second at a time (bounded).
    bool AdvanceUntil(const std::function<bool()>& pred, int quarters = 200) {
        for (int i = 0; i < quarters && !pred(); ++i) {
            Advance(250ms);
        }
        return pred();
    }
};

TEST_F(DeviceTest, SystemPageShowsTheBattery) {
    sim::Battery battery;
    battery.percent = 57;
    ASSERT_TRUE(sim::StoreBattery(battery));
    RunMain([&](CDlgMain& dlg) {
        Advance(1000ms);
        EXPECT_EQ(TextOf(dlg.PageAt(0), IDC_STATIC_BATTERY), u"Battery percent:57%");
        battery.charging = true;
        sim::StoreBattery(battery);
        Advance(1000ms);
        EXPECT_EQ(TextOf(dlg.PageAt(0), IDC_STATIC_BATTERY), u"Battery : Charging...");
    });
}

TEST_F(DeviceTest, DevInfoShowsTheIdentifierTextsAndCard) {
    ASSERT_TRUE(sim::StoreDeviceUuid({'A', 'B', 'C', 0, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA,
                                      0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
    ASSERT_TRUE(sim::StoreDeviceText("os", "WinCE&6.0"));
    ASSERT_TRUE(sim::StoreDeviceText("oem", "V5520"));
    ASSERT_TRUE(sim::StoreDeviceText("platform", "PocketPC"));
    ASSERT_TRUE(sim::InsertCard());
    ASSERT_TRUE(sim::StoreCardId({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA,
                                  0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
    ::testing::internal::CaptureStdout();
    RunMain([&](CDlgMain& dlg) {
        EXPECT_EQ(Utf8(TextOf(dlg.PageAt(3), IDC_STATIC_INFO)),
                  "uuid:4142430044556677\r\n8899AABBCCDDEEFF\r\nuuid(ASCII):ABC\r\nOEM:V5520"
                  "\r\nPlatformType:PocketPC\r\nOSVersion:WinCE\n6.0"
                  "\r\nCard SerialID:001122334455\r\n66778899AABBCCDDEEFF");
    });
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF-"), std::string::npos)
        << out;
    EXPECT_NE(out.find("open gsensor \r\n"), std::string::npos) << out;
    // Without the card the page ends after the OS version.
    sim::RemoveCard();
    RunMain([&](CDlgMain& dlg) {
        const std::string text = Utf8(TextOf(dlg.PageAt(3), IDC_STATIC_INFO));
        EXPECT_TRUE(text.ends_with("OSVersion:WinCE\n6.0")) << text;
    });
}

/// What the DevInfo, USB and Switch pages show.
struct Shown {
    std::u16string info;
    int massStorage = 0;
    int activeSync = 0;
    std::u16string bluetooth;
    bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& shown, std::ostream* out) {
    *out << "{" << Utf8(shown.info) << ", " << shown.massStorage << ", " << shown.activeSync << ", "
         << Utf8(shown.bluetooth) << "}";
}

TEST_F(DeviceTest, DevInfoUsbAndSwitchReadTheDeviceOnceAtTheStart) {
    ASSERT_TRUE(sim::InsertCard());
    ASSERT_TRUE(sim::StoreCardId(std::vector<uint8_t>(16, 0xAB)));
    ASSERT_TRUE(sim::StoreUsbClient(sim::kSerialClient));
    ASSERT_TRUE(sim::StoreBluetoothPower(0));
    Shown atStart;
    std::vector<Shown> afterTabs;
    ::testing::internal::CaptureStdout();
    RunMain([&](CDlgMain& dlg) {
        auto shown = [&] {
            return Shown{TextOf(dlg.PageAt(3), IDC_STATIC_INFO),
                         dlg.PageAt(6).IsDlgButtonChecked(IDC_RADIO_MASSSTORAGE),
                         dlg.PageAt(6).IsDlgButtonChecked(IDC_RADIO_ACTIVESYNC),
                         TextOf(dlg.PageAt(7), IDC_BTN_BT)};
        };
        atStart = shown();
        // The device changes from outside; choosing the tabs only shows the pages.
        sim::StoreDeviceUuid(std::vector<uint8_t>(16, 0x41));
        sim::RemoveCard();
        sim::StoreUsbClient(sim::kMassStorageClient);
        sim::StoreBluetoothPower(1);
        for (int tab : {3, 6, 7, 0, 3, 6, 7}) {
            SelectTab(tab);
            afterTabs.push_back(shown());
        }
    });
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(atStart.info.find(u"Card SerialID"), std::u16string::npos);
    EXPECT_EQ(atStart.activeSync, win::BST_CHECKED);
    EXPECT_EQ(atStart.bluetooth, u"BT(Off)");
    EXPECT_EQ(afterTabs, std::vector<Shown>(7, atStart));
    const std::string trace = "AB-AB-AB-AB-AB-AB-AB-AB-AB-AB-AB-AB-AB-AB-AB-AB-";
    EXPECT_NE(out.find(trace), std::string::npos) << out;
    EXPECT_EQ(out.find(trace), out.rfind(trace)) << "the card trace once: " << out;
}

TEST_F(DeviceTest, DevInfoAsksForTheOsVersionWith128Bytes) {
    // 128 bytes hold 63 characters and the terminating zero; a longer text is
    // refused by the kernel, and the page shows the item empty.
    const std::string fits = "CE&" + std::string(60, 'x');
    const std::string longer = fits + "y";
    const std::pair<std::string, std::u16string> cases[] = {
        {fits, u"CE\n" + std::u16string(60, u'x')},
        {longer, u""},
    };
    for (const auto& [os, want] : cases) {
        ASSERT_TRUE(sim::StoreDeviceText("os", os));
        RunMain([&](CDlgMain& dlg) {
            const std::u16string text = TextOf(dlg.PageAt(3), IDC_STATIC_INFO);
            const std::size_t at = text.find(u"OSVersion:") + 10;
            EXPECT_EQ(text.substr(at, text.find(u"\r\n", at) - at), want) << os.size();
        });
    }
}

/// The lowest row of the image that holds a pixel darker than mid-grey (-1 for none).
int LowestInk(const QImage& image) {
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) {
                return y;
            }
        }
    }
    return -1;
}

TEST_F(DeviceTest, DevInfoDrawsItsWholeTextWhateverBytesTheIdentifierHolds) {
    // The fresh device's identifier holds 0x9C; sixteen more hold every byte
    // value from 1 to 255, the last with a zero byte that ends its ASCII copy.
    std::vector<std::vector<uint8_t>> uuids = {*sim::DeviceUuid()};
    for (int group = 0; group < 16; ++group) {
        std::vector<uint8_t> uuid;
        for (int i = 1; i <= 16; ++i) {
            uuid.push_back(static_cast<uint8_t>(group * 16 + i));
        }
        uuids.push_back(uuid);
    }
    auto shown = [&](const std::vector<uint8_t>& uuid, std::u16string& text) {
        EXPECT_TRUE(sim::StoreDeviceUuid(uuid));
        int lowest = -1;
        RunMain([&](CDlgMain& dlg) {
            SelectTab(3);
            text = TextOf(dlg.PageAt(3), IDC_STATIC_INFO);
            lowest = LowestInk(wt::GrabControl(dlg.PageAt(3), IDC_STATIC_INFO));
        });
        return lowest;
    };
    // The same text with plain letters in place of the identifier's bytes.
    std::u16string letters;
    const int whole = shown(
        {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'}, letters);
    const std::u16string tail = letters.substr(letters.find(u"\r\nOEM:"));
    for (const std::vector<uint8_t>& uuid : uuids) {
        SCOPED_TRACE(::testing::Message() << "identifier from " << int{uuid[0]});
        std::u16string text;
        const int lowest = shown(uuid, text);
        std::array<uint8_t, 16> bytes{};
        std::copy(uuid.begin(), uuid.end(), bytes.begin());
        EXPECT_EQ(text.substr(text.find(u"uuid(ASCII):")),
                  u"uuid(ASCII):" + UuidAscii(bytes) + tail);
        // Drawn down to its last line: the text is not cut short anywhere.
        EXPECT_GE(lowest, whole);
    }
}

TEST_F(DeviceTest, SensorPagesFollowTheBarometerCompassAndAccelerometer) {
    ASSERT_TRUE(sim::StoreBarometer({100, 101325, 260}));
    ASSERT_TRUE(sim::StoreCompassAzimuth(273));
    ASSERT_TRUE(sim::StoreAcceleration({1, -2, 3}));
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& sensor = dlg.PageAt(4);
        EXPECT_TRUE(AdvanceUntil([&] { return !TextOf(sensor, IDC_STATIC_AZIMUTH).empty(); }));
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_ALTITUDE), u"100  m");
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_TEMPERATURE), u"26.0  C \r\n20.5 C");
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_PRESSURE), u"1013.2mb");
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_AZIMUTH), u"273  \u00B0");
        EXPECT_TRUE(AdvanceUntil(
            [&] { return TextOf(dlg.PageAt(8), IDC_STATIC_POSITION) != u"Position(x,y,z):"; }));
        EXPECT_EQ(TextOf(dlg.PageAt(8), IDC_STATIC_POSITION), u"Position(X,Y,Z) :\r\n (1,-2,3)");
        sim::StoreBarometer({-5, 100000, 700});
        sim::StoreCompassAzimuth(12);
        EXPECT_TRUE(
            AdvanceUntil([&] { return TextOf(sensor, IDC_STATIC_AZIMUTH) == u"12  \u00B0"; }));
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_ALTITUDE), u"-5  m");
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_TEMPERATURE), u"70.0  C \r\n59.5 C");
    });
}

TEST_F(DeviceTest, SensorsThatCouldNotOpenStayClosedUntilTheNextStart) {
    ASSERT_TRUE(sim::StoreBarometer({100, 101325, 260}));
    ASSERT_TRUE(sim::StoreAcceleration({4, 5, 6}));
    for (const char* name : {"PSA1", "SMB1", "ECD1"}) {
        ASSERT_TRUE(sim::SetDriverAvailable(name, false));
    }
    sys::Event test =
        sys::Event::Create(sys::EventReset::Manual, false, kCalEventNames[CAL_EVENT_TEST]);
    RunMain([&](CDlgMain& dlg) {
        Advance(1000ms);
        // The drivers come back while the program runs: its sensors stay closed.
        for (const char* name : {"PSA1", "SMB1", "ECD1"}) {
            sim::SetDriverAvailable(name, true);
        }
        sys::EventModify(test, sys::EVENT_SET);
        Advance(2000ms);
        EXPECT_EQ(TextOf(dlg.PageAt(4), IDC_STATIC_ALTITUDE), u"");
        EXPECT_EQ(TextOf(dlg.PageAt(4), IDC_STATIC_AZIMUTH), u"");
        EXPECT_EQ(TextOf(dlg.PageAt(8), IDC_STATIC_POSITION), u"Position(x,y,z):");
        // The azimuth poll does nothing while the compass is closed: it
        // neither waits on the events nor resets them.
        EXPECT_EQ(sys::WaitForSingleObject(test, 0), sys::WAIT_OBJECT_0);
    });
    sys::EventModify(test, sys::EVENT_RESET);
    // The next start finds them.
    RunMain([&](CDlgMain& dlg) {
        EXPECT_TRUE(AdvanceUntil([&] {
            return TextOf(dlg.PageAt(4), IDC_STATIC_ALTITUDE) == u"100  m" &&
                   !TextOf(dlg.PageAt(4), IDC_STATIC_AZIMUTH).empty() &&
                   TextOf(dlg.PageAt(8), IDC_STATIC_POSITION) == u"Position(X,Y,Z) :\r\n (4,5,6)";
        }));
    });
}

/// A driver in front of a simulated one: it counts the opens and refuses
/// every request while `refuse` is set, as a failing driver does.
class RefusingDriver : public sys::StreamDriver {
public:
    explicit RefusingDriver(std::shared_ptr<sys::StreamDriver> inner) : m_inner(std::move(inner)) {}
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override {
        ++opens;
        std::unique_ptr<sys::StreamDevice> device = m_inner->open(request);
        return device ? std::make_unique<Device>(*this, std::move(device)) : nullptr;
    }
    std::atomic<bool> refuse{false};
    std::atomic<int> opens{0};

private:
    struct Device : sys::StreamDevice {
        Device(RefusingDriver& d, std::unique_ptr<sys::StreamDevice> i)
            : driver(d), inner(std::move(i)) {}
        bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                       uint32_t* returned) override {
            if (driver.refuse) {
                sys::SetLastError(sys::ERROR_GEN_FAILURE);
                return false;
            }
            return inner->ioControl(code, in, out, returned);
        }
        RefusingDriver& driver;
        std::unique_ptr<sys::StreamDevice> inner;
    };
    std::shared_ptr<sys::StreamDriver> m_inner;
};

TEST_F(DeviceTest, ARefusedReadingClosesItsSensorForGood) {
    ASSERT_TRUE(sim::StoreBarometer({100, 101325, 260}));
    ASSERT_TRUE(sim::StoreAcceleration({4, 5, 6}));
    auto barometer = std::make_shared<RefusingDriver>(std::make_shared<sim::BarometerDriver>());
    auto gsensor = std::make_shared<RefusingDriver>(std::make_shared<sim::GSensorDriver>());
    sys::RegisterStreamDriver("PSA", barometer);
    sys::RegisterStreamDriver("SMB", gsensor);
    RunMain([&](CDlgMain& dlg) {
        EXPECT_TRUE(AdvanceUntil([&] {
            return TextOf(dlg.PageAt(4), IDC_STATIC_ALTITUDE) == u"100  m" &&
                   TextOf(dlg.PageAt(8), IDC_STATIC_POSITION) == u"Position(X,Y,Z) :\r\n (4,5,6)";
        }));
        barometer->refuse = true;
        gsensor->refuse = true;
        Advance(1000ms);
        barometer->refuse = false;
        gsensor->refuse = false;
        sim::StoreBarometer({-5, 100000, 700});
        sim::StoreAcceleration({7, 8, 9});
        Advance(2000ms);
        // Each was opened once, and shows what it showed before the refusal.
        EXPECT_EQ(barometer->opens, 1);
        EXPECT_EQ(gsensor->opens, 1);
        EXPECT_EQ(TextOf(dlg.PageAt(4), IDC_STATIC_ALTITUDE), u"100  m");
        EXPECT_EQ(TextOf(dlg.PageAt(8), IDC_STATIC_POSITION), u"Position(X,Y,Z) :\r\n (4,5,6)");
    });
}

TEST_F(DeviceTest, CalibrationRunsToSuccessAndThenToFailure) {
    ASSERT_TRUE(sim::StoreCalibrationSampleRate(400));
    ASSERT_TRUE(sim::StoreCalibrationOutcome("success"));
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& sensor = dlg.PageAt(4);
        auto* bar = sensor.Item<win::ProgressBar>(IDC_PROGRESS_CAL);
        win::MessageBoxScript script;
        ::testing::internal::CaptureStdout();
        wt::Click(sensor, IDC_BTN_ADJUST);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "unable\r\n");
        EXPECT_FALSE(Enabled(sensor, IDC_BTN_ADJUST));
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_CAL_STATUS), u"Rotating along XY plane!");
        EXPECT_TRUE(AdvanceUntil(
            [&] { return TextOf(sensor, IDC_STATIC_CAL_STATUS) == u"Adjust Sucess!"; }));
        EXPECT_EQ(bar->GetPos(), 100);
        EXPECT_TRUE(Enabled(sensor, IDC_BTN_ADJUST));
        std::vector<std::u16string> texts;
        for (const win::MessageBoxRecord& box : script.Boxes()) {
            texts.push_back(box.text);
            EXPECT_EQ(box.caption, u"");
            EXPECT_EQ(box.style, 0x00040030u);
        }
        EXPECT_EQ(texts, (std::vector<std::u16string>{u"Hall Adjust Sucess,Start Side Adjust ",
                                                      u"Adjust Sucess"}));

        sim::StoreCalibrationOutcome("failure");
        wt::Click(sensor, IDC_BTN_ADJUST);
        EXPECT_TRUE(AdvanceUntil(
            [&] { return TextOf(sensor, IDC_STATIC_CAL_STATUS) == u"Adjust Failed!"; }));
        EXPECT_EQ(bar->GetPos(), 0);
        EXPECT_EQ(script.Boxes().back().text, u" Adjust Fail");
        EXPECT_EQ(dlg.SensorPage().Cal().Calibrating(), 0);
    });
}

TEST_F(DeviceTest, BacklightSliderReachesTheDriverAndTurnOffDarkensTheScreen) {
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& page = dlg.PageAt(2);
        SelectTab(2);
        // The level read at start is the slider's first position and is applied when it draws.
        const std::u16string start = Widen(std::to_string(sim::kDefaultBacklightLevel));
        EXPECT_TRUE(
            wt::ProcessEventsUntil([&] { return TextOf(page, IDC_STATIC_LEVEL) == start; }));
        page.Item<win::Trackbar>(IDC_SLIDER_BACKLIGHT)->SetPos(80);
        EXPECT_TRUE(
            wt::ProcessEventsUntil([] { return sim::ReadBacklightState().value().level == 80; }));
        EXPECT_EQ(TextOf(page, IDC_STATIC_LEVEL), u"80");
        EXPECT_TRUE(
            wt::ProcessEventsUntil([] { return win::ShownDisplayEffect().dimAlpha == 40; }));

        bool darkDuringTheWait = false;
        std::thread mover([&] {
            if (clock_.waitForBlockedThreads(1)) {
                darkDuringTheWait = !sim::ReadBacklightState().value().screenOn;
                clock_.advance(2000ms);
            }
        });
        wt::Click(page, IDC_BTN_SCREEN_OFF);
        mover.join();
        EXPECT_TRUE(darkDuringTheWait);
        EXPECT_TRUE(sim::ReadBacklightState().value().screenOn);
        EXPECT_FALSE(win::ShownDisplayEffect().dark);
    });
}

TEST_F(DeviceTest, PlayRingsFiveTonesAndTheMarkerShowsMeanwhile) {
    ASSERT_TRUE(sim::ClearToneLog());
    RunMain([&](CDlgMain& dlg) {
        wt::Click(dlg.PageAt(1), IDC_BTN_PLAY);
        clock_.advanceInSteps(1600ms, 50ms);
        wt::ProcessEvents();
        std::vector<sim::ToneRequest> tones;
        ASSERT_TRUE(sim::ReadToneLog(tones));
        int sounded = 0;
        for (const sim::ToneRequest& tone : tones) {
            if (tone.level != 0) {
                ++sounded;
                EXPECT_EQ(tone.level, 1u);
                EXPECT_EQ(tone.scale, 0);
            }
        }
        EXPECT_EQ(sounded, 5);
        EXPECT_FALSE(sim::ReadBacklightState().value().sounding);
    });
}

TEST_F(DeviceTest, UsbAndBluetoothButtonsReachTheirDrivers) {
    RunMain([&](CDlgMain& dlg) {
        SelectTab(6);
        wt::Click(dlg.PageAt(6), IDC_RADIO_MASSSTORAGE);
        EXPECT_EQ(sim::CurrentUsbClient().value(), sim::kMassStorageClient);
        wt::Click(dlg.PageAt(6), IDC_RADIO_ACTIVESYNC);
        EXPECT_EQ(sim::CurrentUsbClient().value(), sim::kSerialClient);

        SelectTab(7);
        const std::u16string before = TextOf(dlg.PageAt(7), IDC_BTN_BT);
        wt::Click(dlg.PageAt(7), IDC_BTN_BT);
        const bool on = TextOf(dlg.PageAt(7), IDC_BTN_BT) == u"BT(On)";
        EXPECT_NE(TextOf(dlg.PageAt(7), IDC_BTN_BT), before);
        EXPECT_EQ(sim::ReadBluetoothPower().value_or(99), on ? 1u : 0u);
    });
}

TEST_F(DeviceTest, ShutdownFromTheNotificationSuspendsUntilWoken) {
    RunMain([&](CDlgMain& dlg) {
        sys::Event event = sys::Event::Create(sys::EventReset::Automatic, false, kNotifyEventName);
        sys::SetEventData(event, EVENTID_SHUTDOWN);
        sys::EventModify(event, sys::EVENT_SET);
        CDlgNotification& window = dlg.Notification();
        ASSERT_TRUE(
            wt::ProcessEventsUntil([&] { return Visible(window, IDC_BTN_NOTIFY_SHUTDOWN); }));
        wt::Click(window, IDC_BTN_NOTIFY_SHUTDOWN);
        EXPECT_TRUE(sim::DeviceSuspended().value());
        EXPECT_TRUE(wt::ProcessEventsUntil([] { return win::ShownDisplayEffect().dark; }));
        EXPECT_TRUE(window.IsWindowVisible()) << "the window is not hidden";
        sim::SetDeviceSuspended(false);
        EXPECT_TRUE(wt::ProcessEventsUntil([] { return !win::ShownDisplayEffect().dark; }, 3s));
    });
}

TEST_F(DeviceTest, RebootEndsTheProgramAsARestart) {
    RunMain([&](CDlgMain& dlg) {
        win::MessageBoxScript script;
        script.Answer(win::IDYES);
        wt::Click(dlg.PageAt(0), IDC_BTN_REBOOT);
        EXPECT_EQ(restarts_, 1);
    });
}

} // namespace
} // namespace devtest::test

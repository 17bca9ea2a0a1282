// devctl call: loads libHalvix.so and calls one export, so that every export
// can be tried from a shell.
//
//   devctl call EXPORT [ARGS]
//       prints the result on the first line and any out-buffer after it.
//       Buffer exports take the buffer size in bytes (characters for
//       GetOemInfo and GetPlatformInfo) as their argument, 16, 64 or 256 when
//       none is given. BuzzerBeep LEVEL SCALE BEEP_MS COUNT PAUSE_MS waits until
//       its sequence has ended; Ctrl-C stops the sequence (exit 1). An export given more or fewer
//       arguments than it takes is refused.
//   devctl call CLASS::METHOD [ARG]
//       constructs a CCompass, GSensorTst or SensorParamTst, opens it, calls
//       the method (the setters take the value, the other methods nothing) and
//       prints its result and outputs; GetDirection is followed by GetAzimuth.
//
// The library is the one named by HANDHELD_HALVIX, else, for the devctl of a
// build tree, the one built with it, else libHalvix.so.1 on the system's
// library path (the installed devctl's). The build tree's library is named by
// its path: a sanitizer's dlopen does not search the program's RUNPATH.
// Its drivers are those of the backend HANDHELD_DEVICE chooses, as for the
// programs.

#include "device_support.h"

#include <platform/system/clock.h>
#include <platform/system/code_page.h>
#include <platform/system/device_image.h>
#include <platform/system/thread.h>
#include <simulator/state/driver_support.h>

#include <backend/device_backend.h>
#include <dlfcn.h>
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace hh::devctl {

namespace {

using Args = std::vector<std::string>;

// How often a waiting BuzzerBeep looks for an ending signal.
constexpr uint32_t kSignalLookMs = 50;

class Library {
public:
    Library() {
        std::vector<std::string> candidates;
        if (const char* env = std::getenv("HANDHELD_HALVIX")) {
            candidates.push_back(env);
        }
        std::error_code error;
        if (std::filesystem::read_symlink("/proc/self/exe", error) == DEVCTL_BUILT_PATH) {
            candidates.push_back(HALVIX_BUILT_PATH);
        }
        candidates.push_back(HALVIX_SONAME);
        std::string errors;
        for (const std::string& path : candidates) {
            m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (m_handle) {
                return;
            }
            errors = ::dlerror();
        }
        throw CommandError("libHalvix.so could not be loaded (" + errors + ")");
    }
    // The library stays loaded to the end of the program: its beep thread and
    // its stop event live as long as the process, as they do on the device.
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    template <typename F>
    F* get(const std::string& symbol) {
        void* address = ::dlsym(m_handle, symbol.c_str());
        if (!address) {
            throw CommandError("libHalvix.so exports no " + symbol);
        }
        return reinterpret_cast<F*>(address);
    }

private:
    void* m_handle = nullptr;
};

uint32_t Arg(const Args& args, size_t i, uint32_t fallback, const std::string& what,
             int64_t min = 0, int64_t max = 0xFFFFFFFFll) {
    return i < args.size() ? static_cast<uint32_t>(ParseNumber(args[i], min, max, what)) : fallback;
}

// What each export takes: from `least` to `most` arguments, shown as `usage`.
struct Arity {
    size_t least;
    size_t most;
    const char* usage;
};

const std::map<std::string, Arity>& Exports() {
    static const std::map<std::string, Arity> exports = {
        {"GetBackLightLevel", {0, 0, ""}},
        {"GetBKLSuspendTimeout", {0, 0, ""}},
        {"GetUSBAdaptStus", {0, 0, ""}},
        {"GetBTPower", {0, 0, ""}},
        {"GetAdjustXYSampleCnt", {0, 0, ""}},
        {"GetAdjustXZSampleCnt", {0, 0, ""}},
        {"ShutDown", {0, 0, ""}},
        {"Reboot", {0, 0, ""}},
        {"Recover", {0, 0, ""}},
        {"GetUSBMode", {0, 0, ""}},
        {"GetBatteryStatus", {0, 0, ""}},
        {"IsPowerAC", {0, 0, ""}},
        {"UpdateDriveIcon", {0, 0, ""}},
        {"GetCurSampleCnt", {0, 0, ""}},
        {"BuzzerStop", {0, 0, ""}},
        {"SetBackLightLevel", {1, 1, "LEVEL"}},
        {"SetBKLSuspendTimeout", {1, 1, "SECONDS"}},
        {"SetBTPower", {1, 1, "ON"}},
        {"ScreenOnOff", {1, 1, "ON"}},
        {"SetUSBMode", {1, 1, "MODE"}},
        {"GetDeviceUUID", {0, 1, "[SIZE]"}},
        {"GetCardID", {0, 1, "[SIZE]"}},
        {"GetOemInfo", {0, 1, "[SIZE]"}},
        {"GetPlatformInfo", {0, 1, "[SIZE]"}},
        {"GetOSVersion", {0, 1, "[SIZE]"}},
        {"SpeakerBeepInternal", {2, 2, "LEVEL SCALE"}},
        {"BuzzerBeep", {5, 5, "LEVEL SCALE BEEP_MS COUNT PAUSE_MS"}},
    };
    return exports;
}

// Refuses a call with fewer or more arguments than the export takes.
void CheckArity(const std::string& name, const Arity& arity, const Args& a) {
    if (a.size() < arity.least || a.size() > arity.most) {
        throw CommandError(name + " takes " +
                           (*arity.usage ? std::string(arity.usage) : "no arguments"));
    }
}

// What a call gives, in the order it gives it: each part is a line of text
// printed at once, or a field of the one JSON object printed at the end.
class Output {
public:
    explicit Output(const std::string& called) : m_object{{"call", called}} {}

    void Add(const std::string& key, const Json& value, const std::string& text) {
        if (JsonOutput()) {
            m_object[key] = value;
        } else {
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        }
    }
    void Add(const std::string& key, int64_t value) { Add(key, value, std::to_string(value)); }
    void Finish() {
        Print(m_object, [] {});
    }

private:
    Json m_object;
};

std::string HexOf(const uint8_t* bytes, size_t n) {
    return sim::HexText(std::vector<uint8_t>(bytes, bytes + n));
}

std::string TextOf(const std::vector<char16_t>& text) {
    std::u16string_view view(text.data(), text.size());
    return sys::Utf16ToUtf8(view.substr(0, view.find(u'\0')));
}

// Calls a plain export; false when there is none of that name.
bool CallFunction(Library& lib, const std::string& name, const Args& a, Output& out) {
    auto known = Exports().find(name);
    if (known == Exports().end()) {
        return false;
    }
    CheckArity(name, known->second, a);
    using IntVoid = int();
    using UintVoid = uint32_t();
    static const std::map<std::string, char> signatures = {{"GetBackLightLevel", 'u'},
                                                           {"GetBKLSuspendTimeout", 'u'},
                                                           {"GetUSBAdaptStus", 'u'},
                                                           {"GetBTPower", 'u'},
                                                           {"GetAdjustXYSampleCnt", 'u'},
                                                           {"GetAdjustXZSampleCnt", 'u'},
                                                           {"ShutDown", 'i'},
                                                           {"Reboot", 'i'},
                                                           {"Recover", 'i'},
                                                           {"GetUSBMode", 'i'},
                                                           {"GetBatteryStatus", 'i'},
                                                           {"IsPowerAC", 'i'},
                                                           {"UpdateDriveIcon", 'i'}};
    auto plain = signatures.find(name);
    if (plain != signatures.end()) {
        if (plain->second == 'u') {
            out.Add("result", lib.get<UintVoid>(name)());
        } else {
            out.Add("result", lib.get<IntVoid>(name)());
        }
        return true;
    }
    if (name == "SetBackLightLevel" || name == "SetBKLSuspendTimeout" || name == "SetBTPower") {
        out.Add("result", lib.get<int(uint32_t)>(name)(Arg(a, 0, 0, "the value")));
        return true;
    }
    if (name == "ScreenOnOff" || name == "SetUSBMode") {
        auto v = static_cast<int>(Arg(a, 0, 0, "the value", INT32_MIN, INT32_MAX));
        out.Add("result", lib.get<int(int)>(name)(v));
        return true;
    }
    if (name == "GetDeviceUUID" || name == "GetCardID") {
        uint32_t size = Arg(a, 0, name == "GetCardID" ? 32 : 16, "the buffer size", 0, 4096);
        std::vector<uint8_t> buffer(size);
        std::fflush(stdout);
        int result = lib.get<int(uint8_t*, uint32_t)>(name)(buffer.data(), size);
        out.Add("result", result);
        if (result) {
            const std::string hex = HexOf(buffer.data(), size < 16 ? size : 16);
            out.Add("bytes", hex, hex);
        }
        return true;
    }
    if (name == "GetOemInfo" || name == "GetPlatformInfo" || name == "GetOSVersion") {
        bool bytes = name == "GetOSVersion";
        uint32_t size = Arg(a, 0, bytes ? 256 : 64, "the buffer size", 0, 8192);
        std::vector<char16_t> buffer(bytes ? size / 2 + 1 : size + 1, u'\0');
        out.Add("result", lib.get<int(char16_t*, uint32_t)>(name)(buffer.data(), size));
        const std::string text = TextOf(buffer);
        out.Add("text", text, text);
        return true;
    }
    if (name == "GetCurSampleCnt") {
        int16_t count = 0;
        out.Add("result", lib.get<int(int16_t*)>(name)(&count));
        out.Add("count", count);
        return true;
    }
    if (name == "BuzzerStop") {
        lib.get<void()>(name)();
        return true;
    }
    if (name == "SpeakerBeepInternal") {
        lib.get<void(uint32_t, uint8_t)>("_Z19SpeakerBeepInternaljh")(
            Arg(a, 0, 0, "the level"), static_cast<uint8_t>(Arg(a, 1, 0, "the scale", 0, 255)));
        return true;
    }
    uint32_t level = Arg(a, 0, 0, "the level");
    auto scale = static_cast<uint8_t>(Arg(a, 1, 0, "the scale", 0, 255));
    uint32_t beep = Arg(a, 2, 0, "the beep duration", 0, 600000);
    uint32_t count = Arg(a, 3, 0, "the beep count", 0, 10000);
    uint32_t pause = Arg(a, 4, 0, "the pause duration", 0, 600000);
    auto buzzerBeep = lib.get<void(uint32_t, uint8_t, uint32_t, uint32_t, uint32_t)>(name);
    auto buzzerStop = lib.get<void()>("BuzzerStop");
    // The ending signals are taken by this thread alone (the library's thread
    // inherits the mask), so that Ctrl-C stops the sequence instead of
    // leaving the buzzer sounding.
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&ending, signal);
    }
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    const uint32_t tick = sys::GetTickCount();
    out.Add("tick", tick, "called at tick " + std::to_string(tick));
    buzzerBeep(level, scale, beep, count, pause);
    // The sequence runs on the library's thread: stay until it has ended,
    // looking for an ending signal now and then.
    bool stopped = false;
    const timespec now{};
    while (sys::WaitForOtherThreads(kSignalLookMs) == sys::WAIT_TIMEOUT) {
        if (!stopped && sigtimedwait(&ending, nullptr, &now) > 0) {
            buzzerStop();
            stopped = true;
        }
    }
    if (stopped) {
        throw CommandError("the sequence was stopped by a signal");
    }
    return true;
}

std::string Mangled(const std::string& cls, const std::string& member, const std::string& args) {
    return "_ZN" + std::to_string(cls.size()) + cls + std::to_string(member.size()) + member + "E" +
           args;
}

// Calls CLASS::METHOD on a new, opened object. The method, its argument and
// its symbols are checked before the object is made, so that bad input
// prints nothing but its one line.
void CallMethod(Library& lib, const std::string& cls, const std::string& method, const Args& a,
                Output& out) {
    if (cls != "CCompass" && cls != "GSensorTst" && cls != "SensorParamTst") {
        throw CommandError("\"" + cls + "\" is not a class of the library");
    }
    if (cls == "GSensorTst" && method != "GetPosition") {
        throw CommandError("GSensorTst has GetPosition");
    }
    const bool setter =
        cls == "SensorParamTst" && (method == "SetCurAltitude" || method == "SetCurPressure");
    if (setter && a.size() != 1) {
        throw CommandError(method + " takes the value");
    }
    if (!setter && !a.empty()) {
        throw CommandError(cls + "::" + method + " takes no arguments");
    }
    int32_t value =
        setter ? static_cast<int32_t>(ParseNumber(a[0], INT32_MIN, 0xFFFFFFFFll, "the value")) : 0;
    using Self = void(void*);
    using IntSelf = int(void*);
    using Azimuth = int16_t(void*);
    auto construct = lib.get<Self>("_ZN" + std::to_string(cls.size()) + cls + "C1Ev");
    auto destruct = lib.get<Self>("_ZN" + std::to_string(cls.size()) + cls + "D1Ev");
    auto open = lib.get<IntSelf>(Mangled(cls, "Open", "v"));
    alignas(16) unsigned char object[64] = {};
    if (cls == "CCompass") {
        auto azimuth = lib.get<Azimuth>(Mangled(cls, "GetAzimuth", "v"));
        auto call = method == "GetAzimuth" ? nullptr : lib.get<IntSelf>(Mangled(cls, method, "v"));
        construct(object);
        const int opened = open(object);
        out.Add("open", opened, "Open: " + std::to_string(opened));
        int result = call ? call(object) : azimuth(object);
        out.Add("result", result);
        if (method == "GetDirection" && result) {
            const int heading = azimuth(object);
            out.Add("azimuth", heading, "azimuth: " + std::to_string(heading));
        }
    } else if (cls == "GSensorTst") {
        auto call = lib.get<int(void*, int16_t*)>(Mangled(cls, method, "R13_XYZ_POSITION"));
        construct(object);
        const int opened = open(object);
        out.Add("open", opened, "Open: " + std::to_string(opened));
        int16_t xyz[3] = {};
        out.Add("result", call(object, xyz));
        out.Add("position", {{"x", xyz[0]}, {"y", xyz[1]}, {"z", xyz[2]}},
                std::to_string(xyz[0]) + " " + std::to_string(xyz[1]) + " " +
                    std::to_string(xyz[2]));
    } else {
        std::string sig = method == "SetCurPressure" ? "Rj" : "Ri";
        auto call = lib.get<int(void*, int32_t*)>(Mangled(cls, method, sig));
        construct(object);
        const int opened = open(object);
        out.Add("open", opened, "Open: " + std::to_string(opened));
        int result = call(object, &value);
        out.Add("result", result);
        if (!setter && result) {
            out.Add("value", value);
        }
    }
    destruct(object);
}

} // namespace

void AddCallCommand(CLI::App& app) {
    CLI::App* call = app.add_subcommand("call", "Calls one export of libHalvix.so");
    auto name = std::make_shared<std::string>();
    auto args = std::make_shared<Args>();
    call->add_option("EXPORT", *name, "The export, or CLASS::METHOD")->required();
    call->add_option("ARGS", *args,
                     "Its arguments, exactly as many as it takes; buffer sizes 0 to 4096 "
                     "(GetDeviceUUID, GetCardID) or 8192 (text exports); BuzzerBeep LEVEL "
                     "SCALE (0 to 255) BEEP_MS (0 to 600000) COUNT (0 to 10000) PAUSE_MS "
                     "(0 to 600000)");
    call->callback([name, args] {
        std::string error;
        // On the machine's own hardware the device root is only the library's
        // state, made at the first start as the programs make it; a simulated
        // device is never made by devctl.
        if (backend::RunsOnMachineHardware()) {
            if (!sys::PrepareDeviceRoot(error)) {
                throw CommandError(error);
            }
        } else {
            RequireDevice();
        }
        if (!backend::RegisterDeviceBackend(error)) {
            throw CommandError(error);
        }
        Library lib;
        Output out(*name);
        size_t colons = name->find("::");
        if (colons != std::string::npos) {
            CallMethod(lib, name->substr(0, colons), name->substr(colons + 2), *args, out);
        } else if (!CallFunction(lib, *name, *args, out)) {
            throw CommandError("\"" + *name + "\" is not an export of libHalvix.so");
        }
        out.Finish();
    });
    AddJsonFlag(call);
}

} // namespace hh::devctl

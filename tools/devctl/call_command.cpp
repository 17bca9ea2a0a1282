// devctl call: loads libHalvix.so and calls one export, so that every export
// can be tried from a shell.
//
//   devctl call EXPORT [ARGS]
//       prints the result on the first line and any out-buffer after it.
//       Buffer exports take the buffer size in bytes (characters for
//       GetOemInfo and GetPlatformInfo) as their argument, 16, 64 or 256 when
//       none is given. BuzzerBeep LEVEL SCALE BEEP_MS COUNT PAUSE_MS waits until
//       its sequence has ended.
//   devctl call CLASS::METHOD [ARG]
//       constructs a CCompass, GSensorTst or SensorParamTst, opens it, calls
//       the method (the setters take the value) and prints its result and
//       outputs; GetDirection is followed by GetAzimuth.
//
// The library is the one named by HANDHELD_HALVIX, else the one built beside
// devctl, else libHalvix.so on the library path.

#include "device_support.h"

#include <platform/system/clock.h>
#include <simulator/device/simulated_device.h>
#include <simulator/state/driver_support.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace hh::devctl {

namespace {

using Args = std::vector<std::string>;

class Library {
public:
    Library() {
        std::vector<std::string> candidates;
        if (const char* env = std::getenv("HANDHELD_HALVIX")) {
            candidates.push_back(env);
        }
        candidates.push_back(HALVIX_BUILT_PATH);
        candidates.push_back("libHalvix.so");
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

void PrintBytes(const uint8_t* bytes, size_t n) {
    std::vector<uint8_t> v(bytes, bytes + n);
    std::printf("%s\n", sim::HexText(v).c_str());
}

void PrintText(const char16_t* text, size_t capacity) {
    std::string out;
    for (size_t i = 0; i < capacity && text[i]; ++i) {
        char16_t c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    std::printf("%s\n", out.c_str());
}

// Calls a plain export; false when there is none of that name.
bool CallFunction(Library& lib, const std::string& name, const Args& a) {
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
            std::printf("%u\n", lib.get<UintVoid>(name)());
        } else {
            std::printf("%d\n", lib.get<IntVoid>(name)());
        }
        return true;
    }
    if (name == "SetBackLightLevel" || name == "SetBKLSuspendTimeout" || name == "SetBTPower") {
        if (a.empty()) {
            throw CommandError(name + " takes one number");
        }
        std::printf("%d\n", lib.get<int(uint32_t)>(name)(Arg(a, 0, 0, "the value")));
        return true;
    }
    if (name == "ScreenOnOff" || name == "SetUSBMode") {
        if (a.empty()) {
            throw CommandError(name + " takes one number");
        }
        auto v = static_cast<int>(Arg(a, 0, 0, "the value", INT32_MIN, INT32_MAX));
        std::printf("%d\n", lib.get<int(int)>(name)(v));
        return true;
    }
    if (name == "GetDeviceUUID" || name == "GetCardID") {
        uint32_t size = Arg(a, 0, name == "GetCardID" ? 32 : 16, "the buffer size", 0, 4096);
        std::vector<uint8_t> buffer(size);
        std::fflush(stdout);
        int result = lib.get<int(uint8_t*, uint32_t)>(name)(buffer.data(), size);
        std::printf("%d\n", result);
        if (result) {
            PrintBytes(buffer.data(), size < 16 ? size : 16);
        }
        return true;
    }
    if (name == "GetOemInfo" || name == "GetPlatformInfo" || name == "GetOSVersion") {
        bool bytes = name == "GetOSVersion";
        uint32_t size = Arg(a, 0, bytes ? 256 : 64, "the buffer size", 0, 8192);
        std::vector<char16_t> buffer(bytes ? size / 2 + 1 : size + 1, u'\0');
        int result = lib.get<int(char16_t*, uint32_t)>(name)(buffer.data(), size);
        std::printf("%d\n", result);
        PrintText(buffer.data(), buffer.size());
        return true;
    }
    if (name == "GetCurSampleCnt") {
        int16_t count = 0;
        std::printf("%d\n%d\n", lib.get<int(int16_t*)>(name)(&count), count);
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
    if (name == "BuzzerBeep") {
        if (a.size() != 5) {
            throw CommandError("BuzzerBeep takes LEVEL SCALE BEEP_MS COUNT PAUSE_MS");
        }
        uint32_t level = Arg(a, 0, 0, "the level");
        auto scale = static_cast<uint8_t>(Arg(a, 1, 0, "the scale", 0, 255));
        uint32_t beep = Arg(a, 2, 0, "the beep duration", 0, 600000);
        uint32_t count = Arg(a, 3, 0, "the beep count", 0, 10000);
        uint32_t pause = Arg(a, 4, 0, "the pause duration", 0, 600000);
        std::printf("called at tick %u\n", sys::GetTickCount());
        std::fflush(stdout);
        lib.get<void(uint32_t, uint8_t, uint32_t, uint32_t, uint32_t)>(name)(level, scale, beep,
                                                                             count, pause);
        if (level) {
            // The sequence runs on the library's thread: stay until it has ended.
            sys::Sleep(static_cast<uint32_t>(
                std::min<uint64_t>(uint64_t{count} * (beep + pause) + 100, 0xFFFFFFF0u)));
        }
        return true;
    }
    return false;
}

std::string Mangled(const std::string& cls, const std::string& member, const std::string& args) {
    return "_ZN" + std::to_string(cls.size()) + cls + std::to_string(member.size()) + member + "E" +
           args;
}

// Calls CLASS::METHOD on a new, opened object.
void CallMethod(Library& lib, const std::string& cls, const std::string& method, const Args& a) {
    if (cls != "CCompass" && cls != "GSensorTst" && cls != "SensorParamTst") {
        throw CommandError("\"" + cls + "\" is not a class of the library");
    }
    alignas(16) unsigned char object[64] = {};
    using Self = void(void*);
    using IntSelf = int(void*);
    lib.get<Self>("_ZN" + std::to_string(cls.size()) + cls + "C1Ev")(object);
    std::printf("Open: %d\n", lib.get<IntSelf>(Mangled(cls, "Open", "v"))(object));
    int result = 0;
    if (cls == "CCompass") {
        if (method == "GetAzimuth") {
            result = lib.get<int16_t(void*)>(Mangled(cls, method, "v"))(object);
        } else {
            result = lib.get<IntSelf>(Mangled(cls, method, "v"))(object);
        }
        std::printf("%d\n", result);
        if (method == "GetDirection" && result) {
            std::printf("azimuth: %d\n",
                        lib.get<int16_t(void*)>(Mangled(cls, "GetAzimuth", "v"))(object));
        }
    } else if (cls == "GSensorTst") {
        if (method != "GetPosition") {
            throw CommandError("GSensorTst has GetPosition");
        }
        int16_t xyz[3] = {};
        result =
            lib.get<int(void*, int16_t*)>(Mangled(cls, method, "R13_XYZ_POSITION"))(object, xyz);
        std::printf("%d\n%d %d %d\n", result, xyz[0], xyz[1], xyz[2]);
    } else {
        bool setter = method == "SetCurAltitude" || method == "SetCurPressure";
        if (setter && a.empty()) {
            throw CommandError(method + " takes the value");
        }
        int32_t value =
            setter ? static_cast<int32_t>(ParseNumber(a[0], INT32_MIN, 0xFFFFFFFFll, "the value"))
                   : 0;
        std::string sig = method == "SetCurPressure" ? "Rj" : "Ri";
        result = lib.get<int(void*, int32_t*)>(Mangled(cls, method, sig))(object, &value);
        std::printf("%d\n", result);
        if (!setter && result) {
            std::printf("%d\n", value);
        }
    }
    lib.get<Self>("_ZN" + std::to_string(cls.size()) + cls + "D1Ev")(object);
}

} // namespace

void AddCallCommand(CLI::App& app) {
    CLI::App* call = app.add_subcommand("call", "Calls one export of libHalvix.so");
    auto name = std::make_shared<std::string>();
    auto args = std::make_shared<Args>();
    call->add_option("EXPORT", *name, "The export, or CLASS::METHOD")->required();
    call->add_option("ARGS", *args, "Its arguments");
    call->callback([name, args] {
        RequireDevice();
        if (!sim::RegisterSimulatedDevice()) {
            throw CommandError(FailureText());
        }
        Library lib;
        size_t colons = name->find("::");
        if (colons != std::string::npos) {
            CallMethod(lib, name->substr(0, colons), name->substr(colons + 2), *args);
            return;
        }
        if (!CallFunction(lib, *name, *args)) {
            throw CommandError("\"" + *name + "\" is not an export of libHalvix.so");
        }
    });
}

} // namespace hh::devctl

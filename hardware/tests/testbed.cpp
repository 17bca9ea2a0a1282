#include "testbed.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

// The sanitizers' entry points, present only in a sanitizer build.
extern "C" void __asan_init() __attribute__((weak));
extern "C" void __tsan_init() __attribute__((weak));

namespace hh::hw::testing {

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

std::string SanitizerRuntime() {
    void* entry = reinterpret_cast<void*>(__asan_init ? __asan_init : __tsan_init);
    Dl_info info{};
    if (entry && ::dladdr(entry, &info) != 0 && info.dli_fname) {
        return info.dli_fname;
    }
    return "";
}

std::string Description(MachineKind kind) {
    const char* name = kind == MachineKind::Handheld ? "handheld" : "laptop";
    std::ifstream file(std::filesystem::path(HH_MACHINES_DIR) / (std::string(name) + ".umockdev"));
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

void RunUnderUmockdev(char** argv) {
    if (::dlopen(kPreload, RTLD_NOW | RTLD_NOLOAD)) {
        return;
    }
    std::string preload = SanitizerRuntime();
    preload += (preload.empty() ? "" : ":") + std::string(kPreload);
    if (const char* earlier = std::getenv("LD_PRELOAD")) {
        preload += std::string(":") + earlier;
    }
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::perror("the test program could not start itself again with umockdev");
    std::exit(1);
}

Testbed::Testbed(MachineKind kind) : testbed_(umockdev_testbed_new()) {
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    if (kind == MachineKind::Bare) {
        return;
    }
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, Description(kind).c_str(), &error)) {
        ADD_FAILURE() << "the testbed could not be made: " << (error ? error->message : "");
        g_clear_error(&error);
    }
    if (kind == MachineKind::Handheld) {
        // What the record format cannot describe: the device tree's model and
        // the configfs gadget.
        write("/sys/firmware/devicetree/base/model", std::string("Vekta V5520 handheld") + '\0');
        const std::string gadget = kHandheldGadget;
        write(gadget + "/UDC", "musb-hdrc.0");
        write(gadget + "/functions/acm.usb0/port_num", "0");
        write(gadget + "/functions/mass_storage.usb0/lun.0/file", "/dev/mmcblk0p1");
        std::filesystem::create_directories(host(gadget + "/configs/c.1"));
        std::filesystem::create_symlink(gadget + "/functions/acm.usb0",
                                        host(gadget + "/configs/c.1/acm.usb0"));
    }
}

Testbed::~Testbed() {
    g_object_unref(testbed_);
}

std::filesystem::path Testbed::host(const std::string& path) const {
    return root_ / path.substr(1);
}

std::string Testbed::read(const std::string& path) const {
    std::ifstream file(host(path));
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

void Testbed::write(const std::string& path, const std::string& text) const {
    std::filesystem::create_directories(host(path).parent_path());
    std::ofstream(host(path), std::ios::trunc) << text;
}

std::vector<std::string> Testbed::linkedFunctions() const {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(host(std::string(kHandheldGadget) + "/configs/c.1"))) {
        if (entry.is_symlink()) {
            names.push_back(entry.path().filename());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<int> Testbed::tones() {
    std::vector<int> tones;
    const int fd = umockdev_testbed_get_dev_fd(testbed_, kHandheldBeeper);
    if (fd < 0) {
        return tones;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    input_event event{};
    while (::read(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
        if (event.type == EV_SND && event.code == SND_TONE) {
            tones.push_back(event.value);
        }
    }
    return tones;
}

} // namespace hh::hw::testing

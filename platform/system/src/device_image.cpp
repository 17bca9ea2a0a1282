#include "platform/system/device_image.h"

#include "platform/system/device_root.h"
#include "platform/system/error.h"
#include "platform/system/files.h"
#include "platform/system/posix.h"
#include "platform/system/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace hh::sys {

namespace {

// A 16x16 icon, 32 bits per pixel: a blue disc with a white ring, the card's
// drive icon.
std::string MakeIcon() {
    constexpr int kSize = 16;
    constexpr uint32_t kPixels = kSize * kSize * 4;
    constexpr uint32_t kMask = kSize * 4; // 1 bit per pixel, rows padded to 32 bits
    constexpr uint32_t kImage = 40 + kPixels + kMask;
    std::string ico;
    auto u8 = [&](uint32_t v) { ico += static_cast<char>(v & 0xFF); };
    auto u16 = [&](uint32_t v) { u8(v), u8(v >> 8); };
    auto u32 = [&](uint32_t v) { u16(v), u16(v >> 16); };
    u16(0), u16(1), u16(1);                // ICONDIR: reserved, type icon, one image
    u8(kSize), u8(kSize), u8(0), u8(0);    // ICONDIRENTRY: size, no palette
    u16(1), u16(32), u32(kImage), u32(22); // planes, bits, bytes, offset
    u32(40), u32(kSize), u32(kSize * 2);   // BITMAPINFOHEADER: height covers the mask
    u16(1), u16(32), u32(0), u32(kPixels + kMask), u32(0), u32(0), u32(0), u32(0);
    for (int y = 0; y < kSize; ++y) { // rows bottom-up, BGRA
        for (int x = 0; x < kSize; ++x) {
            const int dx = 2 * x - 15, dy = 2 * y - 15;
            const int r2 = dx * dx + dy * dy;
            if (r2 > 225) {
                u32(0x00000000);
            } else if (r2 > 150) {
                u32(0xFFFFFFFF);
            } else {
                u32(0xFFC06020);
            }
        }
    }
    ico.append(kMask, '\0');
    return ico;
}

struct ImageItem {
    std::u16string_view path;
    enum Kind { Folder, Text, Icon } kind;
    std::string_view text = {};
};

// The whole sample image, in creation order.
constexpr ImageItem kImage[] = {
    {u"\\ResidentFlash", ImageItem::Folder},
    {u"\\ResidentFlash\\Marolt", ImageItem::Folder},
    {u"\\ResidentFlash\\Marolt\\nav.exe", ImageItem::Text,
     "MZ navigation program placeholder (installed copy)\r\n"},
    {u"\\ResidentFlash\\Marolt\\settings.ini", ImageItem::Text,
     "[Map]\r\nZoom=\r\nLast=\xff\xff\xff\r\n"},
    {u"\\SDMMC", ImageItem::Folder},
    {u"\\Windows", ImageItem::Folder},
    {u"\\Windows\\autorun.inf", ImageItem::Text, "[autorun]\r\nicon=Vekta.ico\r\nlabel=Vekta\r\n"},
    {u"\\Windows\\Vekta.ico", ImageItem::Icon},
    {u"\\SDMMC\\VARDI", ImageItem::Folder},
    {u"\\SDMMC\\Restel", ImageItem::Folder},
    // The recovery reads the first child of the root by attribute position:
    // the pair count, then source and destination of each pair.
    {u"\\SDMMC\\Restel\\Path.xml", ImageItem::Text,
     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
     "<Recovery><Paths Count=\"1\" Src0=\"\\SDMMC\\Recovery\\ResidentFlash\" "
     "Dst0=\"\\ResidentFlash\"/></Recovery>\r\n"},
    {u"\\SDMMC\\V5520Demo", ImageItem::Folder},
    {u"\\SDMMC\\startup", ImageItem::Folder},
    {u"\\SDMMC\\Recovery", ImageItem::Folder},
    {u"\\SDMMC\\Recovery\\ResidentFlash", ImageItem::Folder},
    {u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt", ImageItem::Folder},
    {u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt\\nav.exe", ImageItem::Text,
     "MZ navigation program placeholder (factory copy)\r\n"},
    {u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt\\settings.ini", ImageItem::Text,
     "[Map]\r\nZoom=5\r\nLast=Europe\r\n[Voice]\r\nLanguage=English\r\nVolume=7\r\n"},
    {u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt\\Maps", ImageItem::Folder},
    {u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt\\Maps\\europe.map", ImageItem::Text,
     "MAP1 Europe overview 1:2000000\r\n"},
    {u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt\\Maps\\cities.poi", ImageItem::Text,
     "Berlin;52.5200;13.4050\r\nParis;48.8566;2.3522\r\nRoma;41.9028;12.4964\r\n"},
    {u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt\\Voices", ImageItem::Folder},
    {u"\\SDMMC\\Recovery\\ResidentFlash\\Marolt\\Voices\\english.voc", ImageItem::Text,
     "VOC1 English prompts\r\n"},
    {u"\\SDMMC\\MaroltData", ImageItem::Folder},
    {u"\\SDMMC\\MaroltData\\AppData", ImageItem::Folder},
    {u"\\SDMMC\\MaroltData\\AppData\\favourites.txt", ImageItem::Text,
     "Home;52.5163;13.3777\r\nOffice;52.5076;13.3904\r\n"},
    {u"\\SDMMC\\MaroltData\\AppData\\recent.txt", ImageItem::Text,
     "Alexanderplatz\r\nPotsdamer Platz\r\n"},
    {u"\\SDMMC\\MaroltData\\AppData\\Routes", ImageItem::Folder},
    {u"\\SDMMC\\MaroltData\\AppData\\Routes\\weekend.rte", ImageItem::Text,
     "52.5163,13.3777\r\n52.3906,13.0645\r\n"},
};

// The registry values a device holds from its making, as its own image
// carries them: the sample counts of the compass driver's two calibrations,
// which the library reads and the device test shows its progress against.
struct RegistryItem {
    const char16_t* key;
    const char16_t* name;
    uint32_t value;
};

constexpr RegistryItem kRegistry[] = {
    {u"Drivers\\BuiltIn\\Compass", u"Calibration_Horizontal", 200},
    {u"Drivers\\BuiltIn\\Compass", u"Calibration_Vertical", 100},
};

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c < 0x80 ? c : '?');
    }
    return out;
}

// Writes each registry value of the image that is missing, in one
// transaction; a value that is there (a user set it) is kept as it is.
bool ProvisionRegistry(std::string& error) {
    RegistryTransaction transaction;
    long result = transaction.error();
    for (const RegistryItem& item : kRegistry) {
        if (result != ERROR_SUCCESS) {
            break;
        }
        HKEY key = nullptr;
        result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, item.key, 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr);
        if (result != ERROR_SUCCESS) {
            break;
        }
        uint32_t size = 0;
        result = RegQueryValueExW(key, item.name, nullptr, nullptr, nullptr, &size);
        if (result == ERROR_FILE_NOT_FOUND) {
            result =
                RegSetValueExW(key, item.name, 0, REG_DWORD,
                               reinterpret_cast<const uint8_t*>(&item.value), sizeof item.value);
        }
        RegCloseKey(key);
    }
    if (result == ERROR_SUCCESS) {
        result = RegFlushKey(HKEY_LOCAL_MACHINE);
    }
    if (result != ERROR_SUCCESS) {
        error = "cannot write the device registry (error " + std::to_string(result) +
                "): " + RegistryFailureText();
        return false;
    }
    return true;
}

bool Provision(std::string& error) {
    // The registry first: a root whose registry cannot be written gets no
    // files either, so that the next start provisions it whole.
    if (!ProvisionRegistry(error)) {
        return false;
    }
    for (const auto& item : kImage) {
        const std::string where = Narrow(item.path);
        if (item.kind == ImageItem::Folder) {
            if (!CreateDirectory(item.path) && GetLastError() != ERROR_ALREADY_EXISTS) {
                error = "cannot create the device folder " + where + " (error " +
                        std::to_string(GetLastError()) + ")";
                return false;
            }
            continue;
        }
        File file = CreateFile(item.path, GENERIC_WRITE, 0, CREATE_NEW);
        if (!file) {
            if (GetLastError() == ERROR_FILE_EXISTS) {
                continue; // never overwrite what is there
            }
            error = "cannot create the device file " + where + " (error " +
                    std::to_string(GetLastError()) + ")";
            return false;
        }
        const std::string content =
            item.kind == ImageItem::Icon ? MakeIcon() : std::string(item.text);
        uint32_t written = 0;
        if (!file.Write(std::as_bytes(std::span(content.data(), content.size())), written)) {
            error = "cannot write the device file " + where + " (error " +
                    std::to_string(GetLastError()) + ")";
            return false;
        }
    }
    return true;
}

} // namespace

bool PrepareDeviceRoot(std::string& error) {
    namespace fs = std::filesystem;
    const fs::path root = DeviceRootDir();
    std::error_code ec;
    fs::create_directories(root / kDeviceStateFolder, ec);
    if (ec || !fs::is_directory(root / kDeviceStateFolder)) {
        error = "cannot create the device root " + root.string() + ": " +
                (ec ? ec.message() : std::string("not a folder"));
        return false;
    }
    // Programs started at the same moment on a new root provision it once:
    // the first to hold the lock writes the image, the others then find it.
    const fs::path lockPath = root / kDeviceStateFolder / "image.lock";
    const posix::Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock.valid() || ::flock(lock.get(), LOCK_EX) != 0) {
        error = "cannot lock the device root " + root.string() + ": " + std::strerror(errno);
        return false;
    }
    // Only a new root gets the image: an existing device keeps what its user
    // and its programs made of it (a recovery removes the user data, say).
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        if (entry.path().filename() != kDeviceStateFolder) {
            return true;
        }
    }
    if (ec) {
        error = "cannot read the device root " + root.string() + ": " + ec.message();
        return false;
    }
    return Provision(error);
}

} // namespace hh::sys

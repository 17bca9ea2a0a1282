// libFuzzer target for Path.xml: the bytes are the file, read by the real
// reader (WinceXmlEx through PathConfig, which writes it back), and the pairs
// it yields go through the recovery's configuration check on a small device
// root with sources, a link leading out and the two volumes.

#include <recovery/config/path_config.h>
#include <recovery/engine/copy_engine.h>
#include <recovery/engine/recovery_run.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::filesystem::path g_root;

void Put(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "path-xml-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::abort();
    }
    g_root = std::filesystem::path(pattern) / "root";
    Put(g_root / "SDMMC/Restel/Flash/a.txt", "a");
    Put(g_root / "SDMMC/Restel/Flash/sub/b.txt", "b");
    Put(g_root / "SDMMC/MaroltData/AppData/profile.dat", "user");
    Put(g_root / "ResidentFlash/old.dat", "old");
    Put(g_root / "SDMMC/Escape/c.txt", "c");
    std::filesystem::create_symlink("/", g_root / "SDMMC/Escape/out");
    std::filesystem::create_directory_symlink("Restel/Flash", g_root / "SDMMC/Link");
    ::setenv("HANDHELD_ROOT", g_root.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Put(g_root / "SDMMC/Restel/Path.xml", std::string(reinterpret_cast<const char*>(data), size));
    recovery::RecoveryState state;
    try {
        recovery::PathConfig config(u"\\SDMMC\\Restel\\Path.xml");
        for (recovery::PathPair& pair : recovery::ReadPathPairs(config)) {
            state.m_sources.push_back(std::move(pair.source));
            state.m_destinations.push_back(std::move(pair.destination));
        }
    } catch (const recovery::XmlError&) {
        return 0;
    }
    recovery::g_dwLastCopyError = 0;
    recovery::CheckConfiguration(state);
    return 0;
}

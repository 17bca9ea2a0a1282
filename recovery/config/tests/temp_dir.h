#pragma once
// A scratch device root per test (HANDHELD_ROOT while it lives), removed
// with everything in it. Its files are reached as "\\<name>".

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace recovery::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "recovery-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_path = pattern;
        if (const char* saved = std::getenv("HANDHELD_ROOT")) {
            m_savedRoot = saved;
        }
        ::setenv("HANDHELD_ROOT", m_path.c_str(), 1);
    }
    ~TempDir() {
        if (m_savedRoot.empty()) {
            ::unsetenv("HANDHELD_ROOT");
        } else {
            ::setenv("HANDHELD_ROOT", m_savedRoot.c_str(), 1);
        }
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::string m_savedRoot;
};

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The CE path of Path.xml in a TempDir.
inline constexpr const char16_t* kPathXml = u"\\Path.xml";

} // namespace recovery::test

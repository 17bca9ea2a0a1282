#pragma once
// A fresh device root per test, named by HANDHELD_ROOT, removed afterwards.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace hh::sys::testing {

class TempDeviceRoot : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "hh-reg-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        setenv("HANDHELD_ROOT", m_root.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("HANDHELD_ROOT");
        unsetenv("HANDHELD_REGISTRY_TIMEOUT_MS");
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    std::filesystem::path databasePath() const { return m_root / ".device" / "registry.db"; }

    std::filesystem::path m_root;
};

} // namespace hh::sys::testing

// A test fixture with a scratch folder below the system's temporary folder (removed before
// and after each test) that also restores HOME, for tests that move the storage folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace taviro::testing {

class CTempFolderTest : public ::testing::Test {
  protected:
    explicit CTempFolderTest(const std::string& prefix) : m_prefix(prefix) {}

    void SetUp() override {
        m_root = std::filesystem::temp_directory_path() / (m_prefix + std::to_string(::getpid()));
        std::filesystem::remove_all(m_root);
        if (const char* home = std::getenv("HOME"))
            m_home = home;
    }
    void TearDown() override {
        std::filesystem::remove_all(m_root);
        if (m_home) {
            setenv("HOME", m_home->c_str(), 1);
        } else {
            unsetenv("HOME");
        }
    }

    std::filesystem::path m_root;
    std::optional<std::string> m_home;

  private:
    std::string m_prefix;
};

}  // namespace taviro::testing

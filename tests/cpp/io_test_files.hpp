// Test helpers for the file readers: a scratch directory per test and fatal-stop capture.
#pragma once

#include <gtest/gtest.h>

#include "fatal_message.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "support/fatal.hpp"

namespace kestrum::testing {

// Each test gets a fresh directory; files are written byte for byte (no newline mangling).
class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrum-io-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  [[nodiscard]] std::string write(std::string_view name, std::string_view bytes) const {
    const std::filesystem::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  [[nodiscard]] std::string path(std::string_view name) const { return (dir_ / name).string(); }
  [[nodiscard]] std::string dir() const { return dir_.string(); }

 private:
  std::filesystem::path dir_;
};

// The message of the fatal stop `body` ends with, or a marker that none happened.
}  // namespace kestrum::testing

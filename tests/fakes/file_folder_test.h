// A fixture with a fresh folder of its own for each test, removed after
// it: for the tests that write and read sound files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kalimbro {

class FileFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kalimbro-files.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const std::string& name) const { return dir_ + name; }
  // Writes `bytes` as the file `name`; its path.
  std::string write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
    return dir_ + name;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(dir_ + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t entries() const { return size_t(std::distance(std::filesystem::directory_iterator(dir_), {})); }
  std::string dir_;  // with a trailing '/'
};

}  // namespace kalimbro

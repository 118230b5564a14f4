#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "agent/accounts/account_store.h"

namespace kelm::accounts::testing {

namespace fs = std::filesystem;

// A private directory for one test's store.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kelm-accounts-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path storePath() const { return dir_ / AccountStore::DefaultFileName(); }
  crypto::Bytes fileBytes() const {
    std::ifstream in(storePath(), std::ios::binary);
    return crypto::Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void writeFile(const crypto::Bytes& b) const {
    std::ofstream out(storePath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  static std::uint32_t le32(const crypto::Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
  }

  AccountHandle open(AccountStore& s, const std::string& name, const std::string& pw) {
    AccountHandle h = 0;
    EXPECT_EQ(s.OpenAccount(name, pw, h), plat::S_OK) << name;
    return h;
  }

  fs::path dir_;
};

}  // namespace kelm::accounts::testing

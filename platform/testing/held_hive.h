#pragma once
// Test helper: holds a hive's file locked by a connection of its own, as another process in the
// middle of a long write would, and makes the store give up at once; every read and write of that
// hive then fails with Busy until the helper goes. Tests that use it link SQLite::SQLite3.
#include <sqlite3.h>

#include "platform/registry/registry.h"

namespace plat::testing {

class HeldHive {
 public:
  explicit HeldHive(reg::Hive hive) {
    if (sqlite3_open(reg::hiveFile(hive).c_str(), &db_) == SQLITE_OK)
      held_ = sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    reg::setBusyTimeoutMs(0);
  }
  ~HeldHive() {
    reg::setBusyTimeoutMs(kDefaultBusyTimeoutMs);
    if (held_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  HeldHive(const HeldHive&) = delete;
  HeldHive& operator=(const HeldHive&) = delete;

  bool held() const { return held_; }

 private:
  static constexpr int kDefaultBusyTimeoutMs = 5000;
  sqlite3* db_ = nullptr;
  bool held_ = false;
};

}  // namespace plat::testing

#pragma once
// The nodes against the recording library: a fixture that installs it with a recording sleeper, a
// manual clock and a captured log, and small readers of the tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "components/framework/tests/tree_probe.h"
#include "components/serial/brask_root.h"
#include "components/serial/poll_registry.h"
#include "components/serial/raid_api.h"
#include "components/serial/serial_array.h"
#include "components/serial/serial_controller.h"
#include "components/serial/tests/fake_raid_api.h"
#include "platform/base/clock.h"
#include "platform/com/object.h"
#include "platform/testing/manual_clock.h"

namespace kelm::brask::testing {

using fw::testing::Notifications;

class BraskTest : public ::testing::Test {
 protected:
  BraskTest() : sleeper(&clock) {}
  void SetUp() override {
    // The default model: four channels with disks 0 to 3 on them, a RAID 5 array of 0 to 2.
    for (int id = 0; id < 4; ++id) {
      api.disks[id].name = "DISK " + std::to_string(id);
      if (id == 3) api.disks[id].second = 0;  // a free disk
    }
    api.arrays[0].members = {0, 1, 2};
    SetApi(&api);
    Environment env;
    env.sleeper = &sleeper;
    env.clock = &clock;
    env.log = [this](std::string_view text) { logged.emplace_back(text); };
    SetEnvironment(std::move(env));
  }
  void TearDown() override {
    roots.clear();
    EXPECT_TRUE(PollRegistry::Get().Roots().empty());
    EXPECT_TRUE(PollRegistry::Get().Controllers().empty()) << "a controller outlived its root";
    EXPECT_TRUE(PollRegistry::Get().Arrays().empty());
    SetApi(nullptr);
    SetEnvironment({});
  }

  CBraskRoot* MakeRoot() {
    auto root = plat::com::makeObject<CBraskRoot>();
    root->Build();
    roots.push_back(root);
    return root.get();
  }
  // Ticks until the next tick that polls controllers and arrays has run.
  void PollOnce() {
    do {
      PollRegistry::Get().Tick();
    } while ((PollRegistry::Get().TickCount() - 1) % PollRegistry::kPollEvery != 0);
  }
  static fw::CRiverNode* Child(fw::CRiverNode* node, const std::string& path) {
    return fw::testing::ChildAt(node, path);
  }
  static std::string Value(fw::CRiverNode* node, const std::string& name) { return fw::testing::ValueOf(node, name); }
  static std::uint32_t Rights(fw::CRiverNode* node, const std::string& method) {
    fw::CDrop* d = node->FindDrop(method);
    EXPECT_TRUE(d && d->IsMethod()) << method;
    return d ? static_cast<std::uint32_t>(std::strtoll(d->value.c_str(), nullptr, 10)) : 0xDEADBEEF;
  }
  static std::vector<std::string> ChildNames(fw::CRiverNode* node) { return fw::testing::ChildNames(node); }
  plat::com::ComPtr<Notifications> Watch(fw::CRiverNode* node) { return fw::testing::Watch(node); }

  // A method whose library call answers `answer`, and the one line that logs.
  struct FailedCall {
    const char* method;
    const char* arg;
    const char* call;
    int answer;
    const char* logged;
  };
  void ExpectFailuresLogged(fw::CRiverNode* node, const std::vector<FailedCall>& rows) {
    for (const auto& r : rows) {
      SCOPED_TRACE(std::string(r.method) + " " + r.arg + " answered " + std::to_string(r.answer));
      api.fail = {{r.call, r.answer}};
      logged.clear();
      node->invoke(r.method, r.arg);
      EXPECT_EQ(logged, std::vector<std::string>{r.logged});
    }
    api.fail.clear();
    logged.clear();
  }

  FakeRaidApi api;
  plat::ManualClock clock;
  plat::RecordingSleeper sleeper;
  std::vector<std::string> logged;
  std::vector<plat::com::ComPtr<CBraskRoot>> roots;
};

}  // namespace kelm::brask::testing

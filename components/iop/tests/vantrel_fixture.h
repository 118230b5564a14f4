#pragma once
// The nodes against the fake card: one controller with a kind-1 channel (handle 0) holding two
// disks, the logical container 20 with one mirrored array 100 of both disks, and enclosure 30.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "components/framework/tests/tree_probe.h"
#include "components/iop/iop_api.h"
#include "components/iop/iop_controller.h"
#include "components/iop/iop_nodes.h"
#include "components/iop/iop_poll.h"
#include "components/iop/iop_root.h"
#include "components/iop/tests/fake_card.h"
#include "platform/base/clock.h"
#include "platform/com/object.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/temp_root.h"

namespace kelm::iop::testing {

using fw::testing::Notifications;

struct FakeObject {
  std::uint32_t handle, kind;
};

class VantrelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPath();
    PollList::Get().ResetCounter();
    EnclosureMode() = 0;
    Environment env;
    env.clock = &clock;
    env.log = [this](std::string_view t) { logged.emplace_back(t); };
    env.language = 1033;
    SetEnvironment(std::move(env));
    clock.setWall(1765360000);

    card.On(0x3000, [this](const SentMessage&) { return Reply::Words({hardware}); });
    card.On(0x3001, [this](const SentMessage&) { return Reply::Words({static_cast<std::uint32_t>(top.size())}); });
    card.On(0x3002, [this](const SentMessage& m) {
      if (m.Word(1) >= top.size()) return Reply::Words({0, 0}, 1);
      return Reply::Words({top[m.Word(1)].handle, top[m.Word(1)].kind});
    });
    card.On(0x3003, [this](const SentMessage& m) {
      auto it = inside.find(m.Word(0));
      return it == inside.end() ? Reply::Words({0}, 1) : Reply::Words({static_cast<std::uint32_t>(it->second.size())});
    });
    card.On(0x3004, [this](const SentMessage& m) {
      auto it = inside.find(m.Word(0));
      if (it == inside.end() || m.Word(1) >= it->second.size()) return Reply::Words({0, 0}, 1);
      return Reply::Words({it->second[m.Word(1)].handle, it->second[m.Word(1)].kind});
    });
    card.On(0x3100, [this](const SentMessage& m) { return Reply::Text(names[m.Word(0)]); });
    card.On(0x3202, [this](const SentMessage& m) { return Reply::Words({diskState, owner[m.Word(0)]}); });
    card.On(0x3201, Reply::Words({0x400000, 0}));
    card.On(0x3200, Reply::Words({5}));
    card.On(0x3102, Reply::Words({0}));
    card.On(0x3300, [this](const SentMessage&) { return Reply::Words({level, 4096, 64}); });
    card.On(0x3301, [this](const SentMessage&) { return Reply::Words({arrayState}); });
    card.On(0x3302, [this](const SentMessage&) {
      Reply r = Reply::Words({static_cast<std::uint32_t>(members.size())});
      for (auto h : members) PutLe(r.body, h, 4);
      return r;
    });
    card.On(0x3401, [this](const SentMessage&) { return Reply::Words({throttle, 40}); });
  }
  void TearDown() override {
    roots.clear();
    EXPECT_TRUE(PollList::Get().Arrays().empty()) << "an array outlived its root";
    EXPECT_TRUE(PollList::Get().Controllers().empty());
    SetEnvironment({});
    ResetPath();
  }

  CVantrelRoot* MakeRoot() {
    auto root = plat::com::makeObject<CVantrelRoot>();
    root->Build();
    roots.push_back(root);
    return root.get();
  }
  CIopController* Controller() {
    return dynamic_cast<CIopController*>(MakeRoot()->ChildByName("IOP1"));
  }
  static fw::CRiverNode* Child(fw::CRiverNode* node, const std::string& path) {
    return fw::testing::ChildAt(node, path);
  }
  static std::string Value(fw::CRiverNode* node, const std::string& name) { return fw::testing::ValueOf(node, name); }
  static std::vector<std::string> ChildNames(fw::CRiverNode* node) { return fw::testing::ChildNames(node); }
  // The lines logged that contain every one of `parts`.
  std::vector<std::string> LoggedWith(std::initializer_list<std::string_view> parts) const {
    std::vector<std::string> out;
    for (const std::string& line : logged) {
      bool all = true;
      for (std::string_view p : parts) all = all && line.find(p) != std::string::npos;
      if (all) out.push_back(line);
    }
    return out;
  }
  static plat::com::ComPtr<Notifications> Watch(fw::CRiverNode* node) { return fw::testing::Watch(node); }

  plat::testing::TempRoot tempRoot;
  plat::ManualClock clock;
  FakeCard card;
  std::uint32_t hardware = 0x0113;  // family 1, series 1, model 3
  std::vector<FakeObject> top{{0, 1}, {20, 4}, {30, 5}};
  std::map<std::uint32_t, std::vector<FakeObject>> inside{{0, {{200, 1}, {201, 1}}}, {20, {{100, 4}}}};
  std::map<std::uint32_t, std::string> names{{200, "DiskA"}, {201, "DiskB"}, {100, "Ary1"}};
  std::map<std::uint32_t, std::uint32_t> owner{{200, 100}, {201, 100}};
  std::vector<std::uint32_t> members{200, 201};
  std::uint32_t diskState = 1, level = 1, arrayState = 1, throttle = 0;
  std::vector<std::string> logged;
  std::vector<plat::com::ComPtr<CVantrelRoot>> roots;
};

}  // namespace kelm::iop::testing

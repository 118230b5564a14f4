// The menus and titles a node brings, and the command prompts.
#include "console/core/menus.h"
#include "console/core/strings.h"
#include "console/core/tests/console_test_support.h"

namespace kelm::console::testing {
namespace {

using MenusTest = NodeFixture;

TEST_F(MenusTest, ContextMenusFollowTheNodeInTheTablesOrder) {
  CVirtualFolder* ctl = Make("C", kNodeIopController, {{"!CreateArray", "60"}, {"HasEvent", "1"}});
  CVirtualFolder* arr = Make("A", kNodeIopArray, {}, ctl);
  CVirtualFolder* inArray = Make("D", kNodeIopDisk, {}, arr);
  CVirtualFolder* chan = Make("Ch", kNodeChannel, {}, ctl);
  CVirtualFolder* free = Make("F", kNodeIopDisk, {}, chan);
  CVirtualFolder* serialDisk = Make("S", kNodeSerialDisk, {}, Make("SA", kNodeSerialArray, {}));
  CVirtualFolder* encl = Make("E", kNodeEnclosure, {{"HasEvent", "3"}});
  CVirtualFolder* users = Make("Users", kNodeUserAccounts, {{"!CreateUser", "2"}});
  CVirtualFolder* admin1 = Make("a1", kNodeUser, {{"right", "6"}}, users);
  CVirtualFolder* plain = Make("p", kNodeUser, {{"right", "4"}}, users);
  struct Case {
    CPea* node;
    std::vector<int> menus;
  } cases[] = {
      {ctl, {147, 167}},
      {Agent(), {187}},
      {arr, {137}},
      {inArray, {157}},
      {free, {202}},
      {serialDisk, {157}},
      {encl, {167, 186}},
      {users, {145}},
      {admin1, {}},   // the only administrator: no Delete User menu
      {plain, {146}},
      {doc->root(), {}},
      {nullptr, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ContextMenuIds(c.node), c.menus) << (c.node ? c.node->name() : "null");
  }
  // A sibling whose rights are not read yet may be an administrator.
  CVirtualFolder* unread = Make("u", kNodeUser, {}, users);
  EXPECT_EQ(ContextMenuIds(admin1), std::vector<int>{146});
  users->RemoveChild(unread);
  EXPECT_EQ(ContextMenuIds(admin1), std::vector<int>{});
  // A second administrator: both may be deleted.
  CVirtualFolder* admin2 = Make("a2", kNodeUser, {{"right", "2"}}, users);
  EXPECT_EQ(ContextMenuIds(admin1), std::vector<int>{146});
  EXPECT_EQ(ContextMenuIds(admin2), std::vector<int>{146});
  // A new array's member short cut gets the in-array menu.
  CVirtualFolder* server = Make("Srv", kNodeServer, {});
  EXPECT_EQ(ContextMenuIds(server), std::vector<int>{144});
  auto* sc = new CShortCut();
  sc->Init(arr, free);
  ASSERT_EQ(arr->AddChild(sc), plat::S_OK);
  EXPECT_EQ(ContextMenuIds(sc), std::vector<int>{157});
}

TEST_F(MenusTest, NodePopupTitles) {
  const std::pair<int, const char*> cases[] = {
      {0, "&My Console"},   {1, "&Server"},       {2, "&RAIDMachine"},  {3, "&Array"},   {4, "&Controller"},
      {5, "&Channel"},      {6, "&Disk"},         {7, "&Enclosure"},    {8, "&Power"},   {9, "&Fan"},
      {10, "&Temperature"}, {11, "&Voltage"},     {12, "&UserAccount"}, {13, "&User"},   {14, "&RAIDsystem"},
      {17, "&Enclosure"},   {18, "&Array"},       {19, "&Controller"},  {20, "&Channel"}, {21, "&Disk"},
      {22, "&Array"},       {24, "&Disk"},        {15, ""},             {16, ""},        {23, ""},
      {25, ""},
  };
  for (const auto& [type, title] : cases) {
    CVirtualFolder* n = Make("T" + std::to_string(type), type, {});
    EXPECT_EQ(LoadString(NodePopupTitleId(n)), title) << type;
  }
  EXPECT_EQ(NodePopupTitleId(nullptr), 0);
}

TEST(CommandPrompts, StatusTextAndToolTipAreTheTwoLinesOfThePrompt) {
  struct Case {
    int id;
    const char* status;
    const char* tip;
  } cases[] = {
      {32809, "Create a new array under the RAID system", "Create Array"},
      {32781, "Delete this array", "Delete Array"},
      {32842, "Login to Palindrex Agent", "Login"},
      {32784, "Refresh content of this object", ""},
      {32826, "Hide OutLine pane", ""},
      {1, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CommandStatusText(c.id), c.status) << c.id;
    EXPECT_EQ(CommandToolTip(c.id), c.tip) << c.id;
  }
  EXPECT_EQ(LoadString(177), "The password you input does not match!");
  EXPECT_EQ(LoadString(185), "-----------");
  EXPECT_EQ(LoadString(197), "You have selected too many disks");
}

}  // namespace
}  // namespace kelm::console::testing

// The console's pages against the real agent with the serial and intelligent-I/O components over
// their simulators: each page shows its node, and its buttons' invokes reach the simulated device.
#include "console/core/pages/array_page.h"
#include "console/core/pages/controller_page.h"
#include "console/core/pages/serial_pages.h"
#include "tests/system/console/console_session.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;
using namespace kelm::console;

// A session with one component and its first controller of the given type; the controller stays
// null (the test skipped or failed) when there is none.
class ConsolePagesWithAgent : public ::testing::Test {
 protected:
  void Begin(const char* library, int controllerType) {
    const fs::path lib = AgentRoot::lib(library);
    if (!fs::exists(lib)) GTEST_SKIP() << library << " is not built";
    session = std::make_unique<ConsoleSession>(std::vector<fs::path>{lib});
    const auto started = session->Start();
    ASSERT_TRUE(started);
    controller = session->familyChild(controllerType);
    ASSERT_NE(controller, nullptr) << "no controller of type " << controllerType;
  }
  std::unique_ptr<ConsoleSession> session;
  CVirtualFolder* controller = nullptr;
};

TEST_F(ConsolePagesWithAgent, SerialControllerSettingsReachTheSubsystem) {
  Begin("libbrask.so", kNodeSerialController);
  CVirtualFolder* ctl = controller;
  if (!ctl) return;
  ConsoleSession& s = *session;
  pages::SerialControllerPage page(*s.doc);
  page.ShowNode(ctl);
  ASSERT_TRUE(s.until([&] {
    page.RefreshPage();
    return !page.controls().comport.empty() && !page.controls().firmware.empty();
  }));
  ASSERT_TRUE(page.enables().smart);
  const bool smart = page.controls().smart;
  page.SetSmart(!smart);
  page.Apply();
  EXPECT_EQ(s.ui.boxes.back(), "Setting has been changed");
  // The component's value follows the subsystem: read again until it shows the new state.
  EXPECT_TRUE(s.until([&] {
    ctl->Reload();
    s.until([] { return false; }, 200);
    return (ctl->GetIntProperty("GetSmart", -1, true) != 0) == !smart;
  })) << "GetSmart " << ctl->GetProperty("GetSmart", "", true);
}

TEST_F(ConsolePagesWithAgent, SerialCreateMakesTheArrayAndLeavesNoPhantom) {
  Begin("libbrask.so", kNodeSerialController);
  CVirtualFolder* ctl = controller;
  if (!ctl) return;
  ConsoleSession& s = *session;
  const auto arrays = [&] {
    int n = 0;
    for (CPea* c : ctl->SubFolders(false)) {
      auto* f = dynamic_cast<CVirtualFolder*>(c);
      n += f && f->nodeType() == kNodeSerialArray && !(f->flags() & CVirtualFolder::kFlagNew);
    }
    return n;
  };
  const int before = arrays();
  // Two free disks, listed so that their Channel and state are read.
  std::vector<CVirtualFolder*> disks;
  for (CPea* c : ctl->SubFolders(false)) {
    auto* channel = dynamic_cast<CVirtualFolder*>(c);
    if (!channel || channel->nodeType() != kNodeIdeChannel || disks.size() == 2) continue;
    CVirtualFolder* disk = s.child(channel, kNodeSerialDisk, 3000);  // a channel may hold none
    if (!disk) continue;
    s.until([&] { return disk->GetIntProperty("Status", 0) != 0; });
    const int second = (disk->GetIntProperty("Status", 0, true) >> 8) & 0xFF;
    if (second == 1 || second == 3) disks.push_back(disk);
  }
  ASSERT_EQ(disks.size(), 2u) << "the subsystem has fewer than two free disks";
  s.doc->SetCommandNode(ctl);
  s.doc->OnCommand(kCmdCreateArray);
  auto* array = AsFolder(ctl->FindChild("Ary0"));
  ASSERT_NE(array, nullptr);
  s.doc->AddDisksToNewArray({disks[0], disks[1]});
  ASSERT_EQ(pages::MemberDisks(array, kNodeSerialDisk).size(), 2u);
  s.doc->SetCommandNode(nullptr);
  pages::SerialArrayPage page(*s.doc);
  page.ShowNode(array);
  page.SetLevel("RAID1(MIRROR)");
  s.ui.options = CreateArrayOptions{false, true};
  page.Apply();
  EXPECT_EQ(s.ui.boxes.back(), "Please reboot for the new setting.");
  EXPECT_EQ(ctl->FindChild("Ary0"), nullptr);
  EXPECT_TRUE(s.until([&] {
    ctl->Reload();
    s.until([] { return false; }, 300);
    return arrays() == before + 1;
  })) << "arrays " << arrays();
}

TEST_F(ConsolePagesWithAgent, IopArrayRenameReachesTheCard) {
  Begin("libvantrel.so", kNodeIopController);
  CVirtualFolder* ctl = controller;
  if (!ctl) return;
  ConsoleSession& s = *session;
  CVirtualFolder* array = s.child(ctl, kNodeIopArray);
  std::string seen;
  for (CPea* c : ctl->SubFolders(false)) seen += c->name() + "@" + c->value() + " ";
  ASSERT_NE(array, nullptr) << seen;
  pages::ArrayPage page(*s.doc);
  page.ShowNode(array);
  EXPECT_FALSE(page.controls().sizeText.empty());
  EXPECT_FALSE(page.controls().statusText.empty());
  ASSERT_TRUE(page.enables().name);
  page.SetName("Renamed");
  page.Commit();
  EXPECT_TRUE(s.until([&] {
    array->Reload();
    s.until([] { return false; }, 200);
    return array->GetProperty("name", "", true) == "Renamed";
  })) << "name " << array->GetProperty("name", "", true);
}

}  // namespace
}  // namespace kelm::systest

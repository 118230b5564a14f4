// The console's pages against the real agent with the serial and intelligent-I/O components over
// their simulators: each page shows its node, and its buttons' invokes reach the simulated device.
#include <cstdio>
#include <map>
#include <sstream>

#include "console/core/pages/array_page.h"
#include "console/core/pellwick.h"
#include "console/core/pages/controller_page.h"
#include "console/core/pages/disk_page.h"
#include "console/core/pages/enclosure_page.h"
#include "console/core/pages/serial_pages.h"
#include "console/core/panes/property_pane.h"
#include "platform/base/format.h"
#include "tests/system/console/console_session.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;
using namespace kelm::console;

// --- what the simulators report ---

// The lines of the simulators' status report between the line starting with `from` and the next
// line starting with `to` (or the end).
std::vector<std::string> StatusSection(const std::string& from, const std::string& to) {
  std::vector<std::string> lines;
  std::istringstream in(SteppedSimulators::Output("status"));
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (inside && !to.empty() && line.rfind(to, 0) == 0) break;
    if (line.rfind(from, 0) == 0) inside = true;
    if (inside) lines.push_back(line);
  }
  return lines;
}

// One card of the intelligent-I/O simulator: "IOPn: present, hardware word 0x0126, ... buzzer off".
struct SimCard {
  unsigned hardware = 0;
  bool buzzer = false;
  struct Disk {
    std::string model, state;
    unsigned handle = 0, blocks = 0;
    bool udma = false;
    int timing = 0;
  };
  struct Array {
    std::string name, level, state;
    unsigned handle = 0;
    std::vector<unsigned> members;
  };
  struct Enclosure {
    int channel = 0;
    unsigned type = 0, fan = 0, temp = 0, volts5 = 0, volts12 = 0;
  };
  std::map<unsigned, Disk> disks;  // by handle
  std::vector<Array> arrays;
  std::vector<Enclosure> enclosures;
};

SimCard IopCard(int n) {
  SimCard card;
  const auto lines = StatusSection(plat::format("IOP%d:", n), plat::format("IOP%d:", n + 1));
  for (const std::string& line : lines) {
    char word[64] = {};
    if (std::sscanf(line.c_str(), "IOP%*d: %*[a-z], hardware word 0x%X", &card.hardware) == 1) {
      card.buzzer = line.find("buzzer on") != std::string::npos;
      continue;
    }
    SimCard::Enclosure e;
    if (std::sscanf(line.c_str(), "  ch %d kind %*u enclosure 0x%X fan %u temp %u 5V %u 12V %u", &e.channel, &e.type, &e.fan,
                    &e.temp, &e.volts5, &e.volts12) == 6) {
      card.enclosures.push_back(e);
      continue;
    }
    SimCard::Disk d;
    if (std::sscanf(line.c_str(), "  disk 0x%X ch %*d pos %*d", &d.handle) == 1) {
      // "  disk 0x100 ch 0 pos 0 PX36 ULTRA, 75497472 blocks, udma5, online"
      const auto model = line.find(' ', line.find("pos ") + 4) + 1;
      const auto comma = line.find(',', model);
      d.model = line.substr(model, comma - model);
      int timing = 0;
      if (std::sscanf(line.c_str() + comma, ", %u blocks, %63[a-z]%d, ", &d.blocks, word, &timing) == 3) {
        d.udma = std::string(word) == "udma";
        d.timing = timing;
      }
      d.state = line.substr(line.rfind(", ") + 2);
      card.disks[d.handle] = d;
      continue;
    }
    SimCard::Array a;
    char name[64] = {}, level[32] = {}, state[32] = {};
    if (std::sscanf(line.c_str(), "  array 0x%X \"%63[^\"]\" %31s %31s", &a.handle, name, level, state) == 4) {
      a.name = name;
      a.level = level;
      a.state = state;
      std::istringstream members(line.substr(line.find("members") + 7));
      for (std::string m; members >> m;) a.members.push_back(static_cast<unsigned>(std::stoul(m, nullptr, 16)));
      card.arrays.push_back(a);
    }
  }
  return card;
}

// The serial subsystem's sensors: "sensors 5V 5.02 12V 12.04 temperatures 38 40 36 fans 3200 3150".
struct SimSensors {
  std::string volts5, volts12;
  std::vector<int> temperatures, fans;
};

SimSensors SerialSensors() {
  SimSensors s;
  for (const std::string& line : StatusSection("sensors ", "events")) {
    std::istringstream in(line);
    std::string word, list;
    in >> word >> word >> s.volts5 >> word >> s.volts12 >> word;
    for (int i = 0; i < 3 && in >> word; ++i) s.temperatures.push_back(std::stoi(word));
    in >> word;  // "fans"
    for (int v; in >> v;) s.fans.push_back(v);
  }
  return s;
}

// The serial subsystem's disks by id: "disk 4 "SV-DISK 4" 76319 MB free" gives 4 -> "free".
std::map<int, std::string> SerialDisks() {
  std::map<int, std::string> disks;
  for (const std::string& line : StatusSection("disk ", "array")) {
    int id = -1;
    if (std::sscanf(line.c_str(), "disk %d", &id) == 1) disks[id] = line.substr(line.rfind(' ') + 1);
  }
  return disks;
}

// The serial subsystem's line for an array id, or an empty text.
std::string SerialArrayLine(int id) {
  const auto lines = StatusSection(plat::format("array %d \"", id), "");
  return lines.empty() ? std::string() : lines.front();
}

// --- the property pane as the frame builds it ---

template <class P>
std::unique_ptr<PagePresenter> Make(CDremmoralDoc& doc) {
  return std::make_unique<P>(doc);
}

std::unique_ptr<PropertyPanePresenter> Pane(CDremmoralDoc& doc) {
  auto pane = std::make_unique<PropertyPanePresenter>(doc);
  pane->RegisterPage(PageId::Array, Make<pages::ArrayPage>);
  pane->RegisterPage(PageId::Controller, Make<pages::ControllerPage>);
  pane->RegisterPage(PageId::Channel, Make<pages::ChannelPage>);
  pane->RegisterPage(PageId::Disk, Make<pages::DiskPage>);
  pane->RegisterPage(PageId::Enclosure, Make<pages::EnclosurePage>);
  pane->RegisterPage(PageId::SorventicArray, Make<pages::SerialArrayPage>);
  pane->RegisterPage(PageId::SorventicController, Make<pages::SerialControllerPage>);
  pane->RegisterPage(PageId::SorventicBox, Make<pages::SerialBoxPage>);
  return pane;
}

// The administrator clicks the node in the outline; the page the pane shows for it, of the
// expected kind, or null.
template <class P>
P* Click(ConsoleSession& s, PropertyPanePresenter& pane, CPea* node) {
  s.doc->OnSelectionChanged(node);
  return dynamic_cast<P*>(pane.shownPage());
}

// Every listed folder below `parent`, opened so that its values are read, depth first.
std::vector<CVirtualFolder*> Below(ConsoleSession& s, CVirtualFolder* parent) {
  std::vector<CVirtualFolder*> out;
  for (CPea* c : parent->SubFolders(true)) {
    auto* f = dynamic_cast<CVirtualFolder*>(c);
    if (!f) continue;
    EXPECT_TRUE(s.until([&] {
      if (!f->isOpen()) f->Refresh();
      return f->isOpen();
    })) << f->name() << " was not listed";
    out.push_back(f);
    for (CVirtualFolder* g : Below(s, f)) out.push_back(g);
  }
  return out;
}

// Runs the loop for a while so that replies and hints arrive.
void Settle(ConsoleSession& s, int ms = 300) {
  s.until([] { return false; }, ms);
}

std::string TempText(int celsiusTenths) {
  const double c = celsiusTenths / 10.0;
  return plat::format("Temp: %.1f F/ %.1f C", c * 1.8 + 32, c);
}

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

// Every page of the intelligent-I/O family shows its node as the simulated card holds it.
TEST_F(ConsolePagesWithAgent, IopPagesShowWhatTheCardHolds) {
  Begin("libvantrel.so", kNodeIopController);
  if (!controller) return;
  ConsoleSession& s = *session;
  auto pane = Pane(*s.doc);
  const SimCard card = IopCard(1);
  ASSERT_FALSE(card.disks.empty());
  const std::vector<CVirtualFolder*> nodes = Below(s, controller);

  auto* ctlPage = Click<pages::ControllerPage>(s, *pane, controller);
  ASSERT_NE(ctlPage, nullptr);
  // Hardware word 0x0126 is the QX model: its settings, not the cache cells.
  EXPECT_EQ(card.hardware, 0x0126u);
  EXPECT_EQ(ctlPage->controlSet(), pages::ControllerPage::ControlSet::Qx);
  EXPECT_NE(ctlPage->controls().hardware.find("QX6000"), std::string::npos) << ctlPage->controls().hardware;
  EXPECT_FALSE(ctlPage->controls().processor.empty());
  ASSERT_FALSE(ctlPage->controls().modules.empty());
  for (const pages::ModuleRow& row : ctlPage->controls().modules) {
    for (char ch : row.name + row.version + row.date + row.size) {
      EXPECT_TRUE(ch == ' ' || std::isprint(static_cast<unsigned char>(ch))) << "module row " << row.name;
    }
  }

  std::map<unsigned, bool> members;
  for (const SimCard::Array& a : card.arrays) {
    for (unsigned m : a.members) members[m] = true;
  }
  std::map<unsigned, bool> disksShown;  // a member's short cut below its array shows its disk too
  int arrays = 0, channels = 0, boxes = 0;
  for (CVirtualFolder* node : nodes) {
    SCOPED_TRACE(node->name());
    switch (node->nodeType()) {
      case kNodeIopDisk: {
        const auto it = card.disks.find(static_cast<unsigned>(node->GetIntProperty("DiskHandle", -1)));
        ASSERT_NE(it, card.disks.end());
        const SimCard::Disk& d = it->second;
        auto* page = Click<pages::DiskPage>(s, *pane, node);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->texts().model, d.model);
        EXPECT_EQ(page->texts().size, plat::format("%.2f GB", d.blocks / 2097152.0));
        EXPECT_EQ(page->texts().mode, plat::format("%s-%d", d.udma ? "UDMA" : "DMA", d.timing));
        ASSERT_TRUE(d.state == "online" || d.state == "free") << d.state;
        EXPECT_EQ(page->texts().status, "Functional");
        EXPECT_EQ(page->texts().configuration, members[d.handle] ? "Assigned to an array" : "Free");
        EXPECT_EQ(page->texts().smart, "Functional");  // the QX model with S.M.A.R.T on
        DrawList list;
        page->Paint(list, 600, 300);
        bool modelDrawn = false;
        for (const DrawOp& op : list.ops()) modelDrawn |= op.kind == DrawOp::Kind::Text && op.text == d.model;
        EXPECT_TRUE(modelDrawn);
        disksShown[d.handle] = true;
        break;
      }
      case kNodeIopArray: {
        const unsigned handle = static_cast<unsigned>(node->GetIntProperty("ArrayHandle", -1));
        const SimCard::Array* a = nullptr;
        for (const SimCard::Array& x : card.arrays) a = x.handle == handle ? &x : a;
        ASSERT_NE(a, nullptr);
        auto* page = Click<pages::ArrayPage>(s, *pane, node);
        ASSERT_NE(page, nullptr);
        // The firmware's "AryN" shows as "ArrayN".
        EXPECT_EQ(page->controls().name, "Array" + a->name.substr(3));
        unsigned smallest = ~0u;
        for (unsigned m : a->members) smallest = std::min(smallest, card.disks.at(m).blocks);
        const unsigned data = a->level == "raid5" ? static_cast<unsigned>(a->members.size() - 1) : 1u;
        const std::uint64_t sectors = std::uint64_t{smallest} * data;
        EXPECT_EQ(page->controls().sizeText,
                  plat::format("%llu MB (%.3f GB)", static_cast<unsigned long long>(sectors / 2048), sectors / 2097152.0));
        EXPECT_EQ(page->controls().level, a->level == "raid5" ? "RAID5(PARITY-DISTRIBUTED)" : "RAID1(MIRROR)");
        EXPECT_EQ(page->controls().statusText, a->state == "functional" ? "Functional" : "?");
        EXPECT_FALSE(page->isNewArray());
        ++arrays;
        break;
      }
      case kNodeChannel: {
        auto* page = Click<pages::ChannelPage>(s, *pane, node);
        ASSERT_NE(page, nullptr);
        DrawList list;
        page->Paint(list, 300, 200);
        ASSERT_EQ(list.ops().size(), 1u);
        EXPECT_EQ(list.ops()[0].rect, (DrawRect{0, 0, 300, 200}));
        ++channels;
        break;
      }
      case kNodeSensorGroup: {
        // A box below the enclosure shows the enclosure's page.
        auto* page = Click<pages::EnclosurePage>(s, *pane, node);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(pane->shownNode(), node->GetParent());
        const int channel = node->GetIntProperty("Channel", -1);
        const SimCard::Enclosure* e = nullptr;
        for (const auto& x : card.enclosures) e = x.channel == channel ? &x : e;
        ASSERT_NE(e, nullptr) << "channel " << channel;
        const pages::EnclosurePage::Box* box = nullptr;
        for (const auto& b : page->boxes()) box = b.visible && b.channel == channel ? &b : box;
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->title, plat::format("Channel %d", channel + 1));
        EXPECT_EQ(box->kind, (e->type & 0x13) == 0x11 ? "Sorventic" : (e->type & 0x13) == 1 ? "Corvane" : box->kind);
        EXPECT_EQ(box->rpm, std::to_string(e->fan));
        EXPECT_TRUE(box->fan.animate);
        EXPECT_EQ(box->temp.text, TempText(static_cast<int>(e->temp) * 5));  // half degrees
        EXPECT_EQ(box->volt5, plat::format("%.2f", e->volts5 / 1000.0));
        EXPECT_EQ(box->volt12, plat::format("%.2f", e->volts12 / 1000.0));
        ++boxes;
        break;
      }
      default:
        break;
    }
  }
  EXPECT_EQ(disksShown.size(), card.disks.size());
  EXPECT_EQ(arrays, static_cast<int>(card.arrays.size()));
  EXPECT_EQ(boxes, static_cast<int>(card.enclosures.size()));
  EXPECT_GT(channels, 0);
}

// The standard model shows its cache cells, and a changed policy reads back from the card.
TEST_F(ConsolePagesWithAgent, IopCachePolicyReadsBackFromTheStandardCard) {
  Begin("libvantrel.so", kNodeIopController);
  if (!controller) return;
  ConsoleSession& s = *session;
  CVirtualFolder* standard = nullptr;
  for (CPea* c : AsFolder(controller->GetParent())->SubFolders(false)) {
    auto* f = AsFolder(c);
    if (f && f->nodeType() == kNodeIopController && f != controller) standard = f;
  }
  ASSERT_NE(standard, nullptr);
  ASSERT_EQ(IopCard(2).hardware, 0x0115u);
  s.until([&] {
    if (!standard->isOpen()) standard->Refresh();
    return standard->isOpen();
  });
  auto pane = Pane(*s.doc);
  auto* page = Click<pages::ControllerPage>(s, *pane, standard);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->controlSet(), pages::ControllerPage::ControlSet::Standard);
  ASSERT_TRUE(page->enables().cacheCells);
  EXPECT_FALSE(page->enables().cacheCommit) << "nothing changed yet";
  const int flush = page->controls().flush == 5 ? 10 : 5;  // the timer takes 0 to 10
  page->SetFlush(flush);
  page->SetStart(60);
  page->SetStop(40);
  ASSERT_TRUE(page->enables().cacheCommit);
  page->CommitCachePolicy();
  EXPECT_TRUE(s.until([&] {
    standard->Reload();
    Settle(s);
    return standard->GetIntProperty("CacheFlushFrequency", -1, true) == flush &&
           standard->GetIntProperty("DirtyThresholdStart", -1, true) == 60 &&
           standard->GetIntProperty("DirtyThresholdStop", -1, true) == 40;
  })) << standard->GetProperty("CacheFlushFrequency", "", true);
  // Shown again, the page holds what the card now has.
  page = Click<pages::ControllerPage>(s, *pane, controller);
  page = Click<pages::ControllerPage>(s, *pane, standard);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->controls().flush, flush);
  EXPECT_EQ(page->controls().start, 60);
  EXPECT_EQ(page->controls().stop, 40);
}

// The QX model's settings go to the card and come back through its Get values.
TEST_F(ConsolePagesWithAgent, IopControllerSettingsReadBackFromTheCard) {
  Begin("libvantrel.so", kNodeIopController);
  if (!controller) return;
  ConsoleSession& s = *session;
  auto pane = Pane(*s.doc);
  auto* page = Click<pages::ControllerPage>(s, *pane, controller);
  ASSERT_NE(page, nullptr);
  const auto e = page->enables();
  ASSERT_TRUE(e.smart && e.hdCache && e.rebuildPriority && e.autoFlush && e.settingsCommit);
  const pages::ControllerPage::Controls before = page->controls();
  const int flush = before.autoFlush == 30 ? 35 : 30;
  page->SetSmart(!before.smart);
  page->SetHdCache(!before.hdCache);
  page->SetRebuildPriority(!before.rebuildPriority);
  page->SetAutoFlush(flush);
  s.ui.boxes.clear();
  page->CommitSettings();
  EXPECT_EQ(std::count(s.ui.boxes.begin(), s.ui.boxes.end(), "Connection Error"), 0);
  const auto readBack = [&] {
    return (controller->GetIntProperty("GetSmart", -1, true) == 1) == !before.smart &&
           (controller->GetIntProperty("GetHDCache", -1, true) == 1) == !before.hdCache &&
           controller->GetIntProperty("GetAutoFlushFreq", -1, true) == flush;
  };
  EXPECT_TRUE(s.until([&] {
    controller->Reload();
    Settle(s);
    return readBack();
  })) << "GetSmart " << controller->GetProperty("GetSmart", "", true) << " GetHDCache "
      << controller->GetProperty("GetHDCache", "", true) << " GetAutoFlushFreq "
      << controller->GetProperty("GetAutoFlushFreq", "", true);
  const int priority = controller->GetIntProperty("GetRebuildPriority", -1, true);
  EXPECT_EQ(priority != 0, !before.rebuildPriority) << "GetRebuildPriority " << priority;
  // The page, shown afresh, reads the card's values.
  Click<pages::DiskPage>(s, *pane, nullptr);
  page = Click<pages::ControllerPage>(s, *pane, controller);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->controls().smart, !before.smart);
  EXPECT_EQ(page->controls().hdCache, !before.hdCache);
  EXPECT_EQ(page->controls().autoFlush, flush);
}

// The buzzer button is disabled while its invoke runs and enabled again by the final reply; the
// card's buzzer follows, and the page follows the card's BuzzStatus.
TEST_F(ConsolePagesWithAgent, IopBuzzerButtonTurnsTheCardsBuzzer) {
  Begin("libvantrel.so", kNodeIopController);
  if (!controller) return;
  ConsoleSession& s = *session;
  CVirtualFolder* enclosure = s.child(controller, kNodeEnclosure);
  ASSERT_NE(enclosure, nullptr);
  auto pane = Pane(*s.doc);
  auto* page = Click<pages::EnclosurePage>(s, *pane, enclosure);
  ASSERT_NE(page, nullptr);
  for (bool on : {true, false}) {
    SCOPED_TRACE(on ? "turn on" : "silence");
    ASSERT_EQ(IopCard(1).buzzer, !on);
    ASSERT_EQ(page->buzzerOn(), !on);
    ASSERT_TRUE(page->buzzerEnabled());
    page->ToggleBuzzer();
    EXPECT_FALSE(page->buzzerEnabled()) << "the button stays disabled until the reply";
    page->ToggleBuzzer();  // a second press while it runs sends nothing
    EXPECT_TRUE(s.until([&] { return page->buzzerEnabled(); }));
    EXPECT_EQ(IopCard(1).buzzer, on) << "the reply came before the card's buzzer changed";
    EXPECT_TRUE(s.until([&] {
      enclosure->Reload();
      Settle(s);
      return page->buzzerOn() == on;
    })) << "BuzzStatus " << enclosure->GetProperty("BuzzStatus", "", true);
  }
}

// A created array appears on the card, from the two free disks the administrator gave it.
TEST_F(ConsolePagesWithAgent, IopCreateMakesTheArrayOnTheCard) {
  Begin("libvantrel.so", kNodeIopController);
  if (!controller) return;
  ConsoleSession& s = *session;
  const SimCard card = IopCard(1);
  std::vector<CPea*> free;
  std::vector<unsigned> handles;
  for (CVirtualFolder* node : Below(s, controller)) {
    if (node->nodeType() != kNodeIopDisk || free.size() == 2) continue;
    const auto it = card.disks.find(static_cast<unsigned>(node->GetIntProperty("DiskHandle", -1)));
    if (it == card.disks.end() || it->second.state != "free") continue;
    free.push_back(node);
    handles.push_back(it->first);
  }
  ASSERT_EQ(free.size(), 2u) << "the card has fewer than two free disks";
  s.doc->SetCommandNode(controller);
  s.doc->OnCommand(kCmdCreateArray);
  s.doc->SetCommandNode(nullptr);
  CVirtualFolder* array = nullptr;
  for (CPea* c : controller->SubFolders(false)) {
    auto* f = AsFolder(c);
    if (f && f->nodeType() == kNodeIopArray && (f->flags() & CVirtualFolder::kFlagNew)) array = f;
  }
  ASSERT_NE(array, nullptr);
  s.doc->AddDisksToNewArray(free);
  auto pane = Pane(*s.doc);
  auto* page = Click<pages::ArrayPage>(s, *pane, array);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(page->isNewArray());
  page->SetName("Made");
  page->SetLevel("RAID1(MIRROR)");
  s.ui.options = CreateArrayOptions{false, true};
  s.ui.boxes.clear();
  page->Commit();
  ASSERT_FALSE(s.ui.boxes.empty());
  EXPECT_NE(s.ui.boxes.back(), "Connection Error");
  EXPECT_FALSE(s.doc->IsInTree(array)) << "the console's new array goes once the card made it";
  const SimCard::Array* made = nullptr;
  SimCard after;
  EXPECT_TRUE(s.until([&] {
    Settle(s);
    after = IopCard(1);
    for (const auto& a : after.arrays) made = a.name == "Made" ? &a : made;
    return made != nullptr;
  })) << SteppedSimulators::Output("status");
  if (!made) return;
  EXPECT_EQ(made->level, "raid1");
  EXPECT_EQ(made->members, handles);
  // The console lists it with the others.
  EXPECT_TRUE(s.until([&] {
    controller->Reload();
    Settle(s);
    int n = 0;
    for (CPea* c : controller->SubFolders(true)) {
      auto* f = AsFolder(c);
      n += f && f->nodeType() == kNodeIopArray && !(f->flags() & CVirtualFolder::kFlagNew);
    }
    return n == static_cast<int>(card.arrays.size()) + 1;
  }));
}

// The serial family's controller, box and array pages show the subsystem as it is.
TEST_F(ConsolePagesWithAgent, SerialPagesShowWhatTheSubsystemHolds) {
  Begin("libbrask.so", kNodeSerialController);
  if (!controller) return;
  ConsoleSession& s = *session;
  auto pane = Pane(*s.doc);
  const std::vector<CVirtualFolder*> nodes = Below(s, controller);
  auto* ctlPage = Click<pages::SerialControllerPage>(s, *pane, controller);
  ASSERT_NE(ctlPage, nullptr);
  EXPECT_TRUE(s.until([&] { return !ctlPage->controls().firmware.empty(); }));
  EXPECT_EQ(ctlPage->controls().comport, "Connected");
  EXPECT_TRUE(ctlPage->enables().apply);

  const SimSensors sensors = SerialSensors();
  ASSERT_EQ(sensors.temperatures.size(), 3u);
  const std::map<int, std::string> simDisks = SerialDisks();
  int boxes = 0, arrays = 0;
  for (CVirtualFolder* node : nodes) {
    SCOPED_TRACE(node->name());
    if (node->nodeType() == kNodeSerialEnclosure) {
      auto* page = Click<pages::SerialBoxPage>(s, *pane, node);
      ASSERT_NE(page, nullptr);
      const auto& l = page->lines();
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(l.temps[i], plat::format("%d) ", i + 1) + TempText(sensors.temperatures[i] * 10));
      }
      EXPECT_EQ(l.volt5, "Voltage 5V=" + sensors.volts5);
      EXPECT_EQ(l.volt12, "Voltage 12V=" + sensors.volts12);
      for (std::size_t i = 0; i < l.fans.size(); ++i) {
        if (i < sensors.fans.size()) {
          EXPECT_TRUE(l.fans[i].shown);
          EXPECT_EQ(l.fans[i].text, plat::format("%zu) RPM: %d", i + 1, sensors.fans[i]));
        } else {
          EXPECT_FALSE(l.fans[i].shown) << "fan " << i + 1;
        }
      }
      ++boxes;
    } else if (node->nodeType() == kNodeSerialArray) {
      auto* page = Click<pages::SerialArrayPage>(s, *pane, node);
      ASSERT_NE(page, nullptr);
      EXPECT_FALSE(page->createMode());
      const std::string line = SerialArrayLine(node->GetIntProperty("ArrayHandle", -1));
      ASSERT_FALSE(line.empty());
      // "array 0 "Data" raid5 disks 1 2 3 state 0x00000000 functional"
      EXPECT_NE(line.find("\"" + page->controls().name + "\""), std::string::npos) << line;
      EXPECT_NE(line.find(" raid5 "), std::string::npos) << line;
      EXPECT_EQ(page->controls().level, "RAID5(PARITY-DISTRIBUTED)");
      EXPECT_EQ(page->controls().statusText, "Functional");
      EXPECT_NE(page->controls().sizeText.find("MB"), std::string::npos) << page->controls().sizeText;
      EXPECT_TRUE(page->enables().apply);
      EXPECT_FALSE(page->enables().checks);
      // Change mode offers exactly the subsystem's free disks.
      std::vector<int> offered, free;
      for (const auto& c : page->candidates()) offered.push_back(c.disk->GetIntProperty("Channel", -1));
      for (const auto& [id, state] : simDisks) {
        if (state == "free") free.push_back(id);
      }
      std::sort(offered.begin(), offered.end());
      EXPECT_EQ(offered, free);
      ++arrays;
    }
  }
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(arrays, 1);
}

// Expansion and then conversion of the serial array, each with a free disk the page offered: the
// subsystem reshapes the array onto exactly those disks.
TEST_F(ConsolePagesWithAgent, SerialExpansionAndConversionReshapeTheArray) {
  Begin("libbrask.so", kNodeSerialController);
  if (!controller) return;
  ConsoleSession& s = *session;
  Below(s, controller);
  CVirtualFolder* array = s.child(controller, kNodeSerialArray);
  ASSERT_NE(array, nullptr);
  const int id = array->GetIntProperty("ArrayHandle", -1);
  ASSERT_NE(SerialArrayLine(id).find(" raid5 disks 1 2 3 "), std::string::npos) << SerialArrayLine(id);
  auto pane = Pane(*s.doc);
  auto* page = Click<pages::SerialArrayPage>(s, *pane, array);
  ASSERT_NE(page, nullptr);
  const auto choose = [&](int channel) {
    for (std::size_t i = 0; i < page->candidates().size(); ++i) {
      if (page->candidates()[i].disk->GetIntProperty("Channel", -1) == channel) {
        page->ChooseDisk(i, true);
        return true;
      }
    }
    return false;
  };
  struct Step {
    const char* level;  // as chosen in the mode list; null keeps the array's
    int disk;
    const char* task;
    const char* after;
  };
  const Step steps[] = {
      {nullptr, 4, " expanding ", " raid5 disks 1 2 3 4 "},
      {"RAID0(STRIPING)", 5, " converting ", " raid0 disks 1 2 3 4 5 "},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.task);
    ASSERT_TRUE(s.until([&] {
      page->RefreshPage();
      return page->enables().apply && choose(step.disk);
    })) << "disk " << step.disk << " is not offered";
    if (step.level) page->SetLevel(step.level);
    s.ui.boxes.clear();
    page->Apply();
    ASSERT_EQ(s.ui.boxes.size(), 1u) << "the confirmation";
    EXPECT_TRUE(s.until([&] {
      Settle(s);
      return SerialArrayLine(id).find(step.task) != std::string::npos;
    })) << SerialArrayLine(id);
    // While the subsystem works on it, the page offers no change.
    EXPECT_TRUE(s.until([&] {
      array->Reload();
      Settle(s);
      page->RefreshPage();
      return page->busy() && !page->enables().apply;
    }));
    SteppedSimulators::Output("fault step 60000");
    EXPECT_TRUE(s.until([&] {
      Settle(s);
      return SerialArrayLine(id).find(step.after) != std::string::npos &&
             SerialArrayLine(id).find(step.task) == std::string::npos;
    })) << SerialArrayLine(id);
    EXPECT_TRUE(s.until([&] {
      array->Reload();
      Settle(s);
      page->RefreshPage();
      return !page->busy();
    }));
  }
  // The disks' states follow: none is offered any more.
  EXPECT_TRUE(s.until([&] {
    Settle(s);
    page->RefreshPage();
    return page->candidates().empty();
  }, 15000)) << page->candidates().size() << " offered";
}

// The administrator clicks an enclosure whose listing has not come back yet: the page reads the
// node on every refresh, and the node's listing must not be queued once per read, or every folder
// opened next waits behind the repeats.
TEST_F(ConsolePagesWithAgent, AClickedEnclosureIsListedOnceWhileItsPageRefreshes) {
  Begin("libvantrel.so", kNodeIopController);
  if (!controller) return;
  ConsoleSession& s = *session;
  CVirtualFolder* enclosure = nullptr;
  CVirtualFolder* array = nullptr;
  for (CPea* c : controller->SubFolders(false)) {
    auto* f = dynamic_cast<CVirtualFolder*>(c);
    if (f && f->nodeType() == kNodeEnclosure && !enclosure) enclosure = f;
    if (f && f->nodeType() == kNodeIopArray && !array) array = f;
  }
  ASSERT_NE(enclosure, nullptr);
  ASSERT_NE(array, nullptr);
  ASSERT_FALSE(enclosure->isOpen());
  CPellwick* conn = s.doc->connections().front();
  const auto listingsOf = [&](const CVirtualFolder* node) {
    int n = 0;
    for (const RequestView& r : conn->QueueSnapshot()) n += r.code == kReqListRights && r.owner == node;
    return n;
  };
  auto pane = Pane(*s.doc);
  auto* page = Click<pages::EnclosurePage>(s, *pane, enclosure);
  ASSERT_NE(page, nullptr);
  // No reply is read in between: the refreshes all find the first listing still queued.
  for (int i = 0; i < 20; ++i) page->RefreshPage();
  EXPECT_EQ(listingsOf(enclosure), 1);
  array->Refresh();
  EXPECT_EQ(listingsOf(array), 1);
  ASSERT_TRUE(s.until([&] { return enclosure->isOpen() && array->isOpen(); }));
  EXPECT_EQ(listingsOf(enclosure), 0);
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
  bool onCard = false;
  for (const SimCard::Array& a : IopCard(1).arrays) onCard |= a.name == "Renamed";
  EXPECT_TRUE(onCard) << SteppedSimulators::Output("status");
}

}  // namespace
}  // namespace kelm::systest

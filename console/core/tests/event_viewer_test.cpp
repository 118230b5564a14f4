// The event viewer: its requests and paging, the replies it takes as rows, the cases where no
// end-of-page record ever comes, the saved file and the layout numbers.
#include "console/core/pages/event_viewer.h"

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "console/core/tests/page_test_support.h"
#include "message/message.h"

namespace kelm::console::testing {
namespace {

using pages::EventReply;
using pages::EventRow;
using pages::EventViewer;

std::string Prefix(const std::vector<std::string>& v, const std::string& path) {
  std::string out;
  for (const auto& s : v) {
    if (s.rfind(path + "|", 0) == 0) out += (out.empty() ? "" : " ") + s.substr(path.size() + 1);
  }
  return out;
}

// A node that takes the viewer's invokes without sending them, so that a test hands the replies in
// itself, in the order the agent would send them.
class ScriptedNode : public CVirtualFolder {
 public:
  int Invoke(const std::string& method, const std::string& arguments) override {
    sent.push_back(method + "@" + arguments);
    return 0;
  }
  std::vector<std::string> sent;
};

class EventViewerTest : public PageTest {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    PageTest::SetUp();
    FakeNode* ide = agent.root.Folder("IDE0", kNodeIdeController);
    ide->Add("ReadEvent", "m--", "1");
    ide->Add("ClearEvent", "m--", "2");
    FakeNode* quiet = agent.root.Folder("IDE1", kNodeIdeController);
    quiet->Add("ReadEvent", "m--", "1");
    Start();
  }
  ScriptedNode* Scripted() {
    auto* n = new ScriptedNode();
    PeaRef<ScriptedNode> keep(n);
    n->setName("EV");
    n->setType("o--");
    n->setValue("19");
    n->Attach(Agent(), Agent()->GetContextLink(), Agent()->GetOwnerLink());
    n->AddMethod("ClearEvent", 2);
    Agent()->AddChild(n);
    return n;
  }
  void Log(int n) {
    auto& log = agent.eventLogs["\\IDE0"];
    for (int i = 0; i < n; ++i) log.records.push_back("512@994730139@1@Disk@Disk " + std::to_string(i) + " failed");
  }
  std::unique_ptr<EventViewer> Open(const std::string& name) {
    auto v = std::make_unique<EventViewer>(*doc, PageTest::Open(name));
    v->Start();
    Pump();
    return v;
  }
};

TEST_F(EventViewerTest, PagesTenAtATimeThenGetsAll) {
  Log(12);
  const std::size_t mark = agent.invoked.size();
  auto v = Open("IDE0");
  EXPECT_EQ(v->rows().size(), 10u);
  EXPECT_TRUE(v->nextEnabled());
  EXPECT_TRUE(v->clearEnabled());
  v->NextTen();
  Pump();
  EXPECT_EQ(v->rows().size(), 12u);
  v->GetAll();
  EXPECT_TRUE(v->rows().empty());  // emptied before the answer
  EXPECT_FALSE(v->nextEnabled());
  EXPECT_FALSE(v->getAllEnabled());
  Pump();
  EXPECT_EQ(v->rows().size(), 12u);
  EXPECT_EQ(Prefix(Invoked(mark), "\\IDE0"),
            "ReadEvent@0@10@0 ReadEvent@10@10@994730000 ReadEvent@0@9999@994730000");
}

TEST_F(EventViewerTest, ParsesOnlyItsOwnRecords) {
  struct Case {
    const char* reply;
    EventReply::Kind kind;
    const char* row;  // date|time|level|image|name|description
  } cases[] = {
      {"ReadEvent@0@512@994730139@1@Disk@Disk 2 failed@ch1", EventReply::Record,
       "07/10/01|01:55:39|Error|0|Disk|Disk 2 failed@ch1"},
      {"ReadEvent@0@512@994730139@2@T@D", EventReply::Record, "07/10/01|01:55:39|Warning|1|T|D"},
      {"ReadEvent@0@512@994730139@3@T@D", EventReply::Record, "07/10/01|01:55:39|Information|2|T|D"},
      {"ReadEvent@0@512@994730139@7@T@D", EventReply::Record, "07/10/01|01:55:39|Unknown|-1|T|D"},
      {"ReadEvent@0@512@x@1@T@D", EventReply::Record, "na/na/na|na:na:na|Error|0|T|D"},
      {"ReadEvent@0@512@-5@1@T@D", EventReply::Record, "na/na/na|na:na:na|Error|0|T|D"},
      {"ReadEvent@0@512@99999999999999999999@1@T", EventReply::Record, "na/na/na|na:na:na|Error|0|T|"},
      {"ReadEvent@0@512", EventReply::Record, "na/na/na|na:na:na|Unknown|-1||"},
      {"ReadEvent@255@256@0@99", EventReply::EndOfPage, ""},
      {"ReadEvent@255@256@57@-12", EventReply::EndOfPage, ""},
      {"ReadEvent@255@257@5@1", EventReply::None, ""},
      {"ReadEvent@255@256@5", EventReply::None, ""},
      {"ReadEvent@255@256@99999999999@1", EventReply::None, ""},
      {"ReadEvent@00@512@1@1@T@D", EventReply::None, ""},
      {"ReadEvent@1@512@1@1@T@D", EventReply::None, ""},
      {"800@Functional@ReadEvent@0@10@0", EventReply::None, ""},
      {"800@Functional@ClearEvent@", EventReply::None, ""},
      {"GetEmailNoticeList@0@22@256", EventReply::None, ""},
      {"", EventReply::None, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    const EventReply r = pages::ParseEventReply(c.reply);
    EXPECT_EQ(r.kind, c.kind);
    if (c.kind == EventReply::Record) {
      const EventRow& w = r.row;
      EXPECT_EQ(w.date + "|" + w.time + "|" + w.level + "|" + std::to_string(w.image) + "|" + w.name + "|" +
                    w.description,
                c.row);
    }
  }
  EXPECT_EQ(pages::ParseEventReply("ReadEvent@255@256@57@994730000").position, 57);
  EXPECT_EQ(pages::ParseEventReply("ReadEvent@255@256@57@-12").marker, -12);
  EXPECT_EQ(pages::ParseEventReply("ReadEvent@255@256@57@4294967284").marker, -12);
}

TEST_F(EventViewerTest, EndOfPageSetsTheNextRequest) {
  ScriptedNode* node = Scripted();
  auto v = std::make_unique<EventViewer>(*doc, node);
  v->Start();
  EXPECT_TRUE(v->pending());
  v->OnInvokeReply(kStatusPartial, "ReadEvent@255@256@57@994730000");
  EXPECT_TRUE(v->nextEnabled());
  EXPECT_EQ(v->start(), 57);
  EXPECT_EQ(v->marker(), 994730000);
  // The echo and final of the same request change nothing more.
  v->OnInvokeReply(kStatusPartial, "800@Functional@ReadEvent@0@10@0");
  v->OnInvokeReply(kStatusFinal, "800@Functional");
  EXPECT_TRUE(v->nextEnabled());
  v->NextTen();
  v->OnInvokeReply(kStatusPartial, "ReadEvent@255@256@0@99");
  EXPECT_FALSE(v->nextEnabled());  // position 0: no more records
  EXPECT_TRUE(v->getAllEnabled());
  EXPECT_TRUE(v->rows().empty());
  EXPECT_EQ(node->sent, (std::vector<std::string>{"ReadEvent@0@10@0", "ReadEvent@57@10@994730000"}));
}

// The agent sends nothing but the echo and the final reply for a node that never logged, a log just
// cleared, or a page of a log started again: the viewer must not wait for ever.
TEST_F(EventViewerTest, NeverStuckWithoutAnEndOfPage) {
  auto v = Open("IDE1");  // no log at all
  EXPECT_FALSE(v->pending());
  EXPECT_FALSE(v->nextEnabled());
  EXPECT_TRUE(v->getAllEnabled());
  EXPECT_FALSE(v->clearEnabled());  // IDE1 has no ClearEvent
  EXPECT_TRUE(v->rows().empty());

  // A log started again since the first page: its marker is stale, and Get All starts afresh.
  Log(12);
  auto w = Open("IDE0");
  EXPECT_TRUE(w->nextEnabled());
  agent.eventLogs["\\IDE0"].cookie = 5;
  w->NextTen();
  Pump();
  EXPECT_FALSE(w->pending());
  EXPECT_FALSE(w->nextEnabled());
  EXPECT_TRUE(w->getAllEnabled());
  const std::size_t mark = agent.invoked.size();
  w->GetAll();
  Pump();
  EXPECT_EQ(Prefix(Invoked(mark), "\\IDE0"), "ReadEvent@0@9999@0");
  EXPECT_EQ(w->rows().size(), 12u);
}

TEST_F(EventViewerTest, RefusedRequestLeavesTheButtonsOn) {
  agent.root.Folder("IDE2", kNodeIdeController);  // no ReadEvent: the invoke is refused
  auto v = Open("IDE2");
  EXPECT_FALSE(v->pending());
  EXPECT_TRUE(v->getAllEnabled());
  EXPECT_TRUE(v->rows().empty());
}

TEST_F(EventViewerTest, ClearRepliesDoNotEndTheFollowingGetAll) {
  ScriptedNode* node = Scripted();
  auto v = std::make_unique<EventViewer>(*doc, node);
  v->Start();
  v->OnInvokeReply(kStatusPartial, "ReadEvent@0@512@994730139@1@Disk@early");
  v->OnInvokeReply(kStatusPartial, "ReadEvent@255@256@1@994730000");
  v->OnInvokeReply(kStatusPartial, "800@Functional@ReadEvent@0@10@0");
  v->OnInvokeReply(kStatusFinal, "800@Functional");
  ASSERT_EQ(v->rows().size(), 1u);
  ui.answers = {kIdOk};
  v->ClearEvents();
  EXPECT_EQ(ui.boxes.back().stringId, 195);
  EXPECT_TRUE(v->pending());
  // The clear's own echo and final arrive first; the Get All is still on its way.
  v->OnInvokeReply(kStatusPartial, "800@Functional@ClearEvent@");
  v->OnInvokeReply(kStatusFinal, "800@Functional");
  EXPECT_TRUE(v->pending());
  EXPECT_FALSE(v->nextEnabled());
  v->OnInvokeReply(kStatusPartial, "ReadEvent@0@512@994730139@1@Disk@late");
  v->OnInvokeReply(kStatusPartial, "800@Functional@ReadEvent@0@9999@994730000");
  EXPECT_FALSE(v->pending());
  v->OnInvokeReply(kStatusFinal, "800@Functional");
  EXPECT_EQ(v->rows().size(), 1u);
  EXPECT_EQ(v->rows()[0].description, "late");
  EXPECT_EQ(node->sent.back(), "ReadEvent@0@9999@994730000");
}

TEST_F(EventViewerTest, ClearAgainstTheAgent) {
  Log(3);
  auto v = Open("IDE0");
  const std::size_t mark = agent.invoked.size();
  ui.answers = {kIdCancel};
  v->ClearEvents();
  EXPECT_TRUE(Invoked(mark).empty());
  ui.answers = {kIdOk};
  v->ClearEvents();
  Pump();
  EXPECT_EQ(Prefix(Invoked(mark), "\\IDE0"), "ClearEvent@ ReadEvent@0@9999@994730000");
  EXPECT_TRUE(v->rows().empty());
  EXPECT_FALSE(v->pending());
  EXPECT_TRUE(v->getAllEnabled());
  EXPECT_FALSE(v->nextEnabled());
}

std::vector<EventRow> Rows(int n) {
  std::vector<EventRow> rows;
  for (int i = 0; i < n; ++i) {
    rows.push_back({"07/10/01", "01:55:39", "Error", 0, "Disk", "Disk " + std::to_string(i) + " failed"});
  }
  return rows;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(EventExport, LinesAndBreaks) {
  const std::string text = pages::EventExportText(Rows(3));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_NE(text.back(), '\n');
  EXPECT_EQ(text.substr(0, text.find('\n')), "07/10/01   01:55:39   Error           Disk            Disk 0 failed");
  EventRow longRow{std::string(600, 'd'), "t", "l", 0, std::string(513, 'n'), std::string(700, 'x')};
  const std::string one = pages::EventExportText({longRow});
  EXPECT_EQ(one, std::string(512, 'd') + " t          l               " + std::string(512, 'n') + " " +
                     std::string(512, 'x'));
  EXPECT_EQ(pages::EventExportText({}), "");
}

TEST(EventExport, FailureTexts) {
  EXPECT_EQ(pages::EventSaveFailureText("/ro/x.log"), "Unable to open /ro/x.log, maybe no Permission, or Disk Full");
  EXPECT_EQ(pages::EventSaveFailureText("a:/x.log"), "Unable to open a:/x.log, maybe Write Protected, or Disk Full");
  EXPECT_EQ(pages::EventSaveFailureText("A:\\x.log"), "Unable to open A:\\x.log, maybe Write Protected, or Disk Full");
}

TEST_F(EventViewerTest, SavesReplacingAndReportsFailures) {
  Log(3);
  auto v = Open("IDE0");
  const std::string path = (root.dir() / "events.log").string();
  { std::ofstream(path) << "old contents"; }
  ui.savePath = path;
  ASSERT_TRUE(v->SaveToFile());
  EXPECT_EQ(ui.saveRequests.back(),
            "Velkari Array Management|log|Velkari Array Management Log Files (*.log)|*.log|All Files (*.*)|*.*||");
  EXPECT_EQ(ReadAll(path), pages::EventExportText(v->rows()));

  // An unwritable place: the message with the full path, nothing left behind.
  ui.boxes.clear();
  EXPECT_FALSE(v->SaveTo((root.dir() / "missing" / "x.log").string()));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "Unable to open " + (root.dir() / "missing" / "x.log").string() + ", maybe no Permission, or Disk Full");

  // A write that fails midway (the file size limit stands in for a full disk): the old file stays
  // and no partial file is left.
  ui.boxes.clear();
  const std::string before = ReadAll(path);
  for (int i = 0; i < 300; ++i) v->OnInvokeReply(kStatusPartial, "ReadEvent@0@512@994730139@1@Disk@x");
  auto old = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 64;
  ::setrlimit(RLIMIT_FSIZE, &small);
  const bool ok = v->SaveTo(path);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_FALSE(std::filesystem::exists(path + ".kelm-part"));
}

TEST(EventViewerLayout, ColumnsAndButtons) {
  struct Case {
    int width, height, bw, bh;
    int description, gap, firstX, listHeight;
  } cases[] = {
      {915, 400, 75, 23, 600, 90, 90, 357},   // exactly 915: 915 - 315 = 600
      {1000, 400, 75, 23, 685, 104, 104, 357},
      {914, 400, 75, 23, 600, 89, 89, 357},
      {600, 400, 75, 23, 600, 37, 37, 357},
      {300, 400, 75, 23, 600, 0, 0, 357},     // narrower than five buttons
      {300, 10, 75, 23, 600, 0, 0, 0},        // never a negative height
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    const auto l = pages::LayoutEventViewer(c.width, c.height, c.bw, c.bh);
    EXPECT_EQ(l.columns[4], c.description);
    EXPECT_EQ(l.gap, c.gap);
    EXPECT_EQ(l.buttonX[0], c.firstX);
    EXPECT_EQ(l.buttonX[1], c.firstX + c.bw + c.gap);
    EXPECT_EQ(l.listHeight, c.listHeight);
    EXPECT_EQ(l.listWidth, std::max(0, c.width - 14));
    EXPECT_EQ(l.buttonY, c.height - 5 - c.bh);
  }
}

}  // namespace
}  // namespace kelm::console::testing

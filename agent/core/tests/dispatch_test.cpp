// Request dispatch on a folder over a component, and on folders without one.
#include "agent/core/tests/agent_fixture.h"

namespace kelm::agent::testing {
namespace {

class DispatchTest : public AgentTest {
 protected:
  void SetUp() override {
    river_ = plat::com::makeObject<FakeRiver>();
    river_->entries = {"Status@pr-@0", "Label@prw@old", "RebuildArray@m--@2", "ReadOnlyM@m--@0", "Sub@o--@22"};
    river_->values["Status"] = "1";
    folder_ = AttachFake("FAKE_RAID", river_);
    client_ = &NewClient();
    ASSERT_EQ(Logon(*client_, "admin", "secret"), 800);
    ASSERT_EQ(ChangeFolder(*client_, "FAKE_RAID"), 800);
  }
  plat::com::ComPtr<FakeRiver> river_;
  CVirtualFolder* folder_ = nullptr;
  Client* client_ = nullptr;
};

TEST_F(DispatchTest, InvokeResults) {
  struct Case {
    const char* text;
    plat::HRESULT component;
    std::int32_t result;
    bool runs;
  } cases[] = {
      {"RebuildArray@1@2", plat::S_OK, 800, true},
      {"RebuildArray@", plat::S_FALSE, 801, true},
      {"RebuildArray@", plat::E_FAIL, 801, true},
      {"@RebuildArray", plat::S_OK, 805, false},
      {"RebuildArray", plat::S_OK, 805, false},
      {"Missing@x", plat::S_OK, 803, false},
      {"Status@x", plat::S_OK, 803, false},     // a property, not a method
      {"ReadOnlyM@x", plat::S_OK, 802, false},  // mask 0: nobody may run it
  };
  for (const Case& c : cases) {
    river_->invoked.clear();
    river_->invokeResult = c.component;
    auto got = Request(*client_, kReqInvoke, c.text);
    EXPECT_EQ(FinalResult(got), c.result) << c.text;
    EXPECT_EQ(!river_->invoked.empty(), c.runs) << c.text;
    auto partials = Partials(got);
    ASSERT_EQ(partials.size(), 1u) << c.text;
    EXPECT_EQ(partials[0], FormatResult(c.result) + "@" + c.text);
  }
}

TEST_F(DispatchTest, SetAndQueryResults) {
  struct Case {
    std::int32_t code;
    const char* text;
    plat::HRESULT component;
    std::int32_t result;
  } cases[] = {
      {kReqSetProperty, "Label@new", plat::S_OK, 800},
      {kReqSetProperty, "Label@refused", plat::S_FALSE, 802},
      {kReqSetProperty, "Label@broken", plat::E_FAIL, 801},
      {kReqSetProperty, "Status@1", plat::S_OK, 802},  // "pr-"
      {kReqSetProperty, "Nothing@1", plat::S_OK, 803},
      {kReqSetProperty, "NoValue", plat::S_OK, 803},
      {kReqQuery, "Status", plat::S_OK, 800},
      {kReqQuery, "Status", plat::E_FAIL, 801},
      {kReqQuery, "Nothing", plat::S_OK, 803},
      {kReqChangeFolder, "Status", plat::S_OK, 803},  // not a folder
  };
  for (const Case& c : cases) {
    river_->setResult = river_->getResult = c.component;
    EXPECT_EQ(FinalResult(Request(*client_, c.code, c.text)), c.result) << c.code << " " << c.text;
  }
  EXPECT_EQ(folder_->FindChild("Label")->value(), "new");  // only the accepted set is kept
  river_->getResult = plat::S_OK;
  river_->values["Status"] = "7";
  auto got = Partials(Request(*client_, kReqQuery, "Status"));
  EXPECT_EQ(got, std::vector<std::string>{"Status@pr-@7"});
  EXPECT_EQ(Partials(Request(*client_, kReqQuery, ".")), std::vector<std::string>{".@FAKE_RAID@o--@14"});
}

TEST_F(DispatchTest, FoldersWithoutAComponentKeepTheirValuesAndNeverCrash) {
  // Sub's cd gave no component.
  ASSERT_EQ(ChangeFolder(*client_, "Sub"), 800);
  CVirtualFolder* sub = folder_->FindFolder("Sub");
  sub->SetTextProperty("Kept", "value");
  sub->AddMethodEntry("Go", 2);
  EXPECT_EQ(Partials(Request(*client_, kReqQuery, "Kept")), std::vector<std::string>{"Kept@prw@value"});
  EXPECT_EQ(FinalResult(Request(*client_, kReqRefresh, "")), 800);
  EXPECT_EQ(FinalResult(Request(*client_, kReqListRights, "")), 800);
  EXPECT_EQ(Invoke(*client_, "Go@"), 801);
  EXPECT_EQ(FinalResult(Request(*client_, kReqSetProperty, "Kept@other")), 800);
  EXPECT_EQ(sub->FindChild("Kept")->value(), "other");
  EXPECT_EQ(sub->FullPath(), "\\FAKE_RAID\\Sub");
  EXPECT_EQ(ChangeFolder(*client_, ".."), 800);
  EXPECT_EQ(ChangeFolder(*client_, "\\"), 800);
  EXPECT_EQ(ChangeFolder(*client_, ".."), 803);  // above the top
}

TEST_F(DispatchTest, RefreshReReadsTheChildrenAndKeepsThemWhenTheComponentDeclines) {
  river_->entries = {"Status@pr-@2", "NewOne@prw@x"};
  EXPECT_EQ(FinalResult(Request(*client_, kReqRefresh, "")), 800);
  EXPECT_EQ(river_->refreshes, 1);
  EXPECT_EQ(folder_->GetChildCount(), 2u);
  EXPECT_EQ(folder_->FindChild("Status")->value(), "2");
  river_->dirResult = plat::S_FALSE;
  river_->entries.clear();
  EXPECT_EQ(FinalResult(Request(*client_, kReqRefresh, "")), 800);
  EXPECT_EQ(folder_->GetChildCount(), 2u);
}

TEST_F(DispatchTest, ListingMasksMethodsWithTheCallersRights) {
  auto listing = Partials(Request(*client_, kReqListRights, ""));
  EXPECT_EQ(listing, (std::vector<std::string>{"Status@pr-@0", "Label@prw@old", "RebuildArray@m--@2", "Sub@o--@22"}));
}

TEST_F(DispatchTest, ComponentNotificationsReachEveryClient) {
  Client& other = NewClient();
  client_->sink->got.clear();
  river_->Fire(8194);
  ASSERT_EQ(client_->sink->got.size(), 1u);
  EXPECT_EQ(client_->sink->got[0].code, 8194);
  EXPECT_EQ(client_->sink->got[0].status, kStatusNotify);
  EXPECT_EQ(client_->sink->got[0].text, "\\FAKE_RAID@");
  EXPECT_EQ(other.sink->got.size(), 1u);
  // A removed folder no longer passes anything on.
  doc_->Root()->RemoveChild(folder_);
  client_->sink->got.clear();
  river_->Fire(8194);
  EXPECT_TRUE(client_->sink->got.empty());
}

}  // namespace
}  // namespace kelm::agent::testing

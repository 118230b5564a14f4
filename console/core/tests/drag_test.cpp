// Dragging free disks onto arrays: what may be dragged, where a drop is taken, and the drop.
#include "console/core/tests/console_test_support.h"

namespace kelm::console::testing {
namespace {

class DragTest : public NodeFixture {
 protected:
  void SetUp() override {
    NodeFixture::SetUp();
    ctl = Make("C", kNodeIopController, {{"!CreateArray", "60"}, {"!DeleteArray", "60"}});
    chan = Make("Ch", kNodeChannel, {}, ctl);
    existing = Make("Old", kNodeIopArray, {{"Status", "0"}}, ctl);
  }
  CVirtualFolder* Disk(const std::string& name, const char* status, int type = kNodeIopDisk,
                       CVirtualFolder* parent = nullptr) {
    return Make(name, type, {{"Status", status}}, parent ? parent : chan);
  }
  CVirtualFolder* NewArray(CVirtualFolder* controller) {
    CVirtualFolder* a = Make("New", kNodeIopArray, {}, controller);
    a->SetFlags(CVirtualFolder::kFlagNew, CVirtualFolder::kFlagNew);
    return a;
  }
  CVirtualFolder* ctl = nullptr;
  CVirtualFolder* chan = nullptr;
  CVirtualFolder* existing = nullptr;
};

TEST_F(DragTest, OnlyFreeDisksOfTheTwoFamiliesAreDragged) {
  struct Case {
    const char* status;
    int type;
    bool ok;
  } cases[] = {
      {"256", kNodeIopDisk, true},     // 0x100: free
      {"768", kNodeIopDisk, true},     // 0x300
      {"512", kNodeIopDisk, false},    // 0x200: a member
      {"256", kNodeSerialDisk, true},
      {"256", kNodeIdeDisk, false},    // the IDE family builds no arrays from the console
  };
  int i = 0;
  for (const Case& c : cases) {
    CVirtualFolder* d = Disk("D" + std::to_string(i++), c.status, c.type);
    EXPECT_EQ(doc->CanDragNodes({d}), c.ok) << c.status << " type " << c.type;
  }
  EXPECT_FALSE(doc->CanDragNodes({}));
  EXPECT_FALSE(doc->CanDragNodes({existing}));
  CVirtualFolder* d = Disk("In", "256");
  NewArray(ctl);
  doc->AddDisksToNewArray({d});
  EXPECT_FALSE(doc->CanDragNodes({d}));  // already in the new array
}

TEST_F(DragTest, ADropIsAcceptedOnlyWhereItTakesTheDisks) {
  CVirtualFolder* d1 = Disk("D1", "256");
  CVirtualFolder* d2 = Disk("D2", "256");
  CVirtualFolder* critical = Make("Crit", kNodeIopArray, {{"Status", "-2147483647"}}, ctl);
  // Without a new array an existing array would take nothing.
  EXPECT_FALSE(doc->CanDropOn({d1}, existing));
  CVirtualFolder* fresh = NewArray(ctl);
  CVirtualFolder* otherCtl = Make("C2", kNodeIopController, {{"!CreateArray", "60"}});
  CVirtualFolder* noDelete = Make("A2", kNodeIopArray, {{"Status", "0"}}, otherCtl);
  NewArray(otherCtl);
  CVirtualFolder* ctl3 = Make("C3", kNodeIopController, {{"!CreateArray", "60"}, {"!DeleteArray", "60"}});
  CVirtualFolder* far = Disk("Far", "256", kNodeIopDisk, Make("Ch3", kNodeChannel, {}, ctl3));
  struct Case {
    std::vector<CPea*> disks;
    CPea* target;
    bool ok;
    const char* what;
  } cases[] = {
      {{d1}, fresh, true, "the new array"},
      {{d1, d2}, existing, true, "a functional array of a controller with a new array"},
      {{d1}, critical, false, "a critical array"},
      {{d1}, noDelete, false, "a controller without DeleteArray"},
      {{far}, existing, false, "a disk of another controller"},
      {{d1}, chan, false, "a channel"},
      {{d1}, nullptr, false, "nothing"},
  };
  for (const Case& c : cases) EXPECT_EQ(doc->CanDropOn(c.disks, c.target), c.ok) << c.what;

  // A refused drop changes nothing.
  EXPECT_FALSE(doc->DropOn({far}, existing));
  EXPECT_FALSE(far->inNewArray());
  EXPECT_EQ(fresh->GetChildCount(), 0u);
  // An accepted one puts the disks into the new array.
  EXPECT_TRUE(doc->DropOn({d1, d2}, existing));
  EXPECT_TRUE(d1->inNewArray());
  EXPECT_TRUE(d2->inNewArray());
  EXPECT_EQ(fresh->SubFolders(false).size(), 2u);
}

TEST_F(DragTest, ANinthDiskIsRefused) {
  CVirtualFolder* fresh = NewArray(ctl);
  std::vector<CPea*> seven;
  for (int i = 0; i < 7; ++i) seven.push_back(Disk("D" + std::to_string(i), "256"));
  ASSERT_TRUE(doc->DropOn(seven, fresh));
  CVirtualFolder* eighth = Disk("E8", "256");
  CVirtualFolder* ninth = Disk("E9", "256");
  EXPECT_FALSE(doc->CanDropOn({eighth, ninth}, fresh));  // both would not fit
  EXPECT_TRUE(doc->DropOn({eighth}, fresh));
  EXPECT_FALSE(doc->CanDropOn({ninth}, fresh));
}

}  // namespace
}  // namespace kelm::console::testing

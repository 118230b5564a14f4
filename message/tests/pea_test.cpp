#include "message/pea.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/message_codec.h"

using namespace kelm;

namespace {

// A node that records its detach and its destruction, so the tests see the count rules at work.
class Probe : public CPea {
 public:
  Probe(std::string name, std::vector<std::string>* log) : log_(log) { setName(std::move(name)); }
  ~Probe() override { log_->push_back("delete " + name()); }

 protected:
  void OnDetach() override { log_->push_back("detach " + name() + (GetParent() ? " (parent set)" : "")); }

 private:
  std::vector<std::string>* log_;
};

// An owner object whose link we can count, as a connection would be. It lives on the test's
// stack, so it holds one count of its own and is never deleted by a release.
class Owner : public CPeaLink {
 public:
  Owner() {
    SetLink(kTargetKey, this);
    AddRef();
  }
};

}  // namespace

TEST(PeaLink, TargetKeyAndCounting) {
  Owner o;
  void* out = nullptr;
  EXPECT_EQ(o.SetLink(1, nullptr), plat::E_INVALIDARG);
  EXPECT_EQ(o.GetLink(CPeaLink::kTargetKey, &out), plat::S_OK);
  EXPECT_EQ(out, &o);
  EXPECT_EQ(o.GetLink(7, &out), plat::S_OK);
  EXPECT_EQ(out, static_cast<CPeaLink*>(&o));
  EXPECT_EQ(o.AddRef(), 2);
  EXPECT_EQ(o.AddRef(), 3);
  EXPECT_EQ(o.Release(), 2);
  EXPECT_EQ(o.RefCount(), 2);
}

TEST(PeaLink, LastReleaseDeletesAndAnUnmatchedOneIsIgnored) {
  std::vector<std::string> log;
  auto* n = new Probe("n", &log);
  n->AddRef();
  n->AddRef();
  EXPECT_EQ(n->Release(), 1);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(n->Release(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"delete n"}));
  Probe never("never", &log);
  EXPECT_EQ(never.Release(), 0) << "an unmatched release must not delete or go below zero";
  EXPECT_EQ(never.RefCount(), 0);
}

TEST(Pea, ChildListCountsAndRefusals) {
  std::vector<std::string> log;
  auto* root = new Probe("root", &log);
  root->AddRef();
  auto* a = new Probe("a", &log);
  auto* b = new Probe("b", &log);
  EXPECT_EQ(root->AddChild(a), plat::S_OK);
  EXPECT_EQ(a->RefCount(), 1);
  EXPECT_EQ(root->AddChild(a), plat::E_INVALIDARG);
  EXPECT_EQ(root->GetChildCount(), 1u);
  EXPECT_EQ(a->AddChild(root), plat::E_INVALIDARG) << "a cycle";
  EXPECT_EQ(a->AddChild(a), plat::E_INVALIDARG);
  EXPECT_EQ(root->AddChild(nullptr), plat::E_INVALIDARG);
  EXPECT_EQ(root->AddChild(b), plat::S_OK);
  Probe other("other", &log);
  EXPECT_EQ(other.AddChild(b), plat::E_INVALIDARG) << "a node sits in at most one list";

  Probe stranger("stranger", &log);
  EXPECT_EQ(root->RemoveChild(&stranger), plat::E_INVALIDARG);
  EXPECT_EQ(root->GetChildCount(), 2u);
  EXPECT_TRUE(log.empty());

  // A holder outside the tree keeps a removed child alive, with its parent pointer cleared.
  b->SetParent(root, nullptr, nullptr);
  b->AddRef();
  EXPECT_EQ(root->RemoveChild(b), plat::S_OK);
  EXPECT_EQ(b->GetParent(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"detach b (parent set)"}));
  EXPECT_EQ(b->Release(), 0);
  log.clear();

  // Releasing the root destroys it and everything only its list counts, children first to last.
  auto* c = new Probe("c", &log);
  root->AddChild(c);
  root->Release();
  EXPECT_EQ(log, (std::vector<std::string>{"delete root", "detach a", "delete a", "detach c", "delete c"}));
  log.clear();
}

TEST(Pea, IterationFindAndFindByKey) {
  Owner o1, o2;
  CPea root;
  std::vector<CPea*> kids;
  for (const char* n : {"Array1", "array1", "Disk2", "Array1"}) {
    auto* k = new CPea;
    k->setName(n);
    root.AddChild(k);
    kids.push_back(k);
  }
  kids[1]->SetOwner(&o1);
  kids[3]->SetOwner(&o1);
  kids[2]->SetOwner(&o2);

  std::vector<CPea*> seen;
  for (CPea::Position p = root.GetFirstChildPosition(); p;) seen.push_back(root.GetNextChild(p));
  EXPECT_EQ(seen, kids);
  EXPECT_EQ(root.FindChild("Array1"), kids[0]) << "the first of two with the name";
  EXPECT_EQ(root.FindChild("ARRAY1"), nullptr) << "names compare case-sensitively";

  CPea::Position p = root.GetFirstChildPosition();
  EXPECT_EQ(root.FindChildByKey(&o1, p), kids[1]);
  EXPECT_EQ(root.FindChildByKey(&o1, p), kids[3]);
  EXPECT_EQ(root.FindChildByKey(&o1, p), nullptr);
  EXPECT_EQ(p, 0u);
  CPea empty;
  EXPECT_EQ(empty.GetFirstChildPosition(), 0u);
}

TEST(Pea, SetOwnerMovesTheSubtreeThatSharesTheOwner) {
  Owner oldOwner, newOwner, foreign;
  CPea root;
  root.SetOwner(&oldOwner);
  auto* shared = new CPea;
  auto* grandchild = new CPea;
  auto* other = new CPea;
  auto* underOther = new CPea;
  root.AddChild(shared);
  shared->AddChild(grandchild);
  root.AddChild(other);
  other->AddChild(underOther);
  shared->SetOwner(&oldOwner);
  grandchild->SetOwner(&oldOwner);
  other->SetOwner(&foreign);
  underOther->SetOwner(&oldOwner);
  EXPECT_EQ(oldOwner.RefCount(), 1 + 4);

  root.SetOwner(&newOwner);
  EXPECT_EQ(root.GetOwnerLink(), &newOwner);
  EXPECT_EQ(shared->GetOwnerLink(), &newOwner);
  EXPECT_EQ(grandchild->GetOwnerLink(), &newOwner);
  EXPECT_EQ(other->GetOwnerLink(), &foreign) << "a child with another owner keeps it";
  EXPECT_EQ(underOther->GetOwnerLink(), &oldOwner) << "and so does its subtree";
  EXPECT_EQ(oldOwner.RefCount(), 1 + 1);
  EXPECT_EQ(newOwner.RefCount(), 1 + 3);

  void* conn = nullptr;
  EXPECT_EQ(grandchild->QueryOwnerLink(CPeaLink::kTargetKey, &conn), plat::S_OK);
  EXPECT_EQ(conn, &newOwner);
  CPea lone;
  conn = &lone;
  EXPECT_EQ(lone.QueryOwnerLink(CPeaLink::kTargetKey, &conn), plat::S_OK);
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(lone.QueryParentLink(CPeaLink::kTargetKey, &conn), plat::S_OK);
  EXPECT_EQ(conn, nullptr);

  root.RemoveChild(nullptr);
  root.SetOwner(nullptr);
  EXPECT_EQ(oldOwner.RefCount(), 1);
  EXPECT_EQ(newOwner.RefCount(), 1);
  EXPECT_EQ(foreign.RefCount(), 1);
}

TEST(Pea, SetParentStoresParentAndContext) {
  Owner ctx, owner;
  CPea parent, child;
  child.SetParent(&parent, &ctx, &owner);
  EXPECT_EQ(child.GetParent(), &parent);
  void* out = nullptr;
  child.QueryParentLink(CPeaLink::kTargetKey, &out);
  EXPECT_EQ(out, &ctx);
  EXPECT_EQ(owner.RefCount(), 2);
  child.SetOwner(nullptr);
  EXPECT_EQ(owner.RefCount(), 1);
}

TEST(Pea, TypeTests) {
  struct Case {
    const char* type;
    bool folder, property, method, readable, isVolatile;
  };
  const std::vector<Case> cases = {
      {"o--", true, false, false, false, false}, {"prw", false, true, false, true, false},
      {"pr-", false, true, false, true, false},  {"prv", false, true, false, true, true},
      {"p-v", false, true, false, false, true},  {"m--", false, false, true, false, false},
      {"", false, false, false, false, false},   {"p", false, true, false, false, false},
      {"mrv", false, false, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    CPea n;
    n.setType(c.type);
    EXPECT_EQ(n.IsFolder(), c.folder);
    EXPECT_EQ(n.IsProperty(), c.property);
    EXPECT_EQ(n.IsMethod(), c.method);
    EXPECT_EQ(n.IsReadableProperty(), c.readable);
    EXPECT_EQ(n.IsVolatileProperty(), c.isVolatile);
  }
}

TEST(Pea, FullNameCopyAndSerialize) {
  CPea n;
  n.setName("Array1");
  n.setType("o--");
  n.setValue("22");
  std::string full;
  EXPECT_EQ(n.GetFullName(full), 1);
  EXPECT_EQ(full, "Array1@o--@22");

  std::string wire;
  ArchiveWriter w(wire);
  n.Serialize(w);
  EXPECT_EQ(wire, std::string("\x06"
                              "Array1"
                              "\x03"
                              "o--"
                              "\x02"
                              "22"));
  CPea back;
  ArchiveReader r(wire);
  ASSERT_EQ(back.Load(r), DecodeStatus::kOk);
  std::string backName;
  back.GetFullName(backName);
  EXPECT_EQ(backName, full);

  ArchiveReader cut(std::string_view(wire).substr(0, wire.size() - 1));
  CPea partial;
  EXPECT_EQ(partial.Load(cut), DecodeStatus::kNeedMore);
  EXPECT_EQ(cut.position(), 0u);
  EXPECT_EQ(partial.name(), "");

  CPea copy;
  copy.CopyStrings(n);
  EXPECT_EQ(copy.name(), "Array1");
  EXPECT_EQ(copy.value(), "22");
}

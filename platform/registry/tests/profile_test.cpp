#include "platform/registry/profile.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_root.h"
#include "platform/testing/result_values.h"

using namespace plat::reg;
using plat::testing::valueOf;

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  plat::testing::TempRoot root;
  Profile profile{"Velkari Technology Inc.", "kelm"};
};

TEST_F(ProfileTest, MissingOrMistypedEntriesGiveTheDefault) {
  EXPECT_EQ(profile.getString("MessageServer", "MyConsole", "MyConsole"), "MyConsole");
  EXPECT_EQ(profile.getString("Nowhere", "x"), "");
  EXPECT_EQ(profile.getInt("General", "First", 1), 1);
  EXPECT_FALSE(profile.getBinary("General", "Bars"));
  // An entry of another type reads as missing rather than as garbage.
  ASSERT_TRUE(profile.writeString("General", "First", "0"));
  ASSERT_TRUE(profile.writeInt("General", "Count", 3));
  EXPECT_EQ(profile.getInt("General", "First", 1), 1);
  EXPECT_EQ(profile.getString("General", "Count", "d"), "d");
  EXPECT_FALSE(profile.getBinary("General", "Count"));
}

TEST_F(ProfileTest, EntriesRoundTripUnderTheApplicationKey) {
  ASSERT_TRUE(profile.writeString("Settings", "WindowPos", "0,1,-1,-1,-1,-1,10,10,600,400"));
  ASSERT_TRUE(profile.writeInt("General", "ContentSize", -134217729));
  ASSERT_TRUE(profile.writeBinary("General", "Bars", {1, 0, 2}));
  EXPECT_EQ(profile.getString("settings", "windowpos"), "0,1,-1,-1,-1,-1,10,10,600,400");
  EXPECT_EQ(profile.getInt("General", "ContentSize", 0), -134217729);
  EXPECT_EQ(valueOf(profile.getBinary("General", "Bars")), (std::vector<std::uint8_t>{1, 0, 2}));
  auto key = Key::open(Hive::CurrentUser, "Software\\Velkari Technology Inc.\\kelm\\Settings");
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->getString("WindowPos"));
  // A section path is a chain of nested keys.
  ASSERT_TRUE(profile.writeString("MessageServer\\MyConsole\\agent1", "UserProfile", "tok"));
  EXPECT_TRUE(Key::open(Hive::CurrentUser, "Software\\Velkari Technology Inc.\\kelm\\MessageServer\\MyConsole"));
  EXPECT_EQ(profile.getString("MessageServer\\MyConsole\\agent1", "UserProfile"), "tok");
  ASSERT_TRUE(profile.deleteEntry("MessageServer\\MyConsole\\agent1", "UserProfile"));
  EXPECT_EQ(profile.getString("MessageServer\\MyConsole\\agent1", "UserProfile", "none"), "none");
  EXPECT_TRUE(profile.deleteEntry("Nowhere", "x"));
  // The machine hive is used when the program asks for it.
  Profile agent("Velkari Technology, Inc.", "Halvorn", Hive::LocalMachine);
  ASSERT_TRUE(agent.writeInt("LogEvent", "NTEventLog", 1));
  EXPECT_EQ(agent.getInt("LogEvent", "NTEventLog", 0), 1);
  EXPECT_EQ(profile.getInt("LogEvent", "NTEventLog", 0), 0);
}

TEST_F(ProfileTest, DeleteSectionKeepsSubsectionsButNotValues) {
  ASSERT_TRUE(profile.writeString("OutLine", "ActiveLeaf", "/MyConsole"));
  ASSERT_TRUE(profile.writeInt("OutLine", "DemoFreq", 10));
  ASSERT_TRUE(profile.writeString("MessageServer", "MyConsole", "Desk"));
  ASSERT_TRUE(profile.writeString("MessageServer\\agent1", "UserProfile", "tok"));

  ASSERT_TRUE(profile.deleteSection("OutLine"));
  EXPECT_FALSE(profile.openSection("OutLine"));

  ASSERT_TRUE(profile.deleteSection("MessageServer"));
  auto ms = profile.openSection("MessageServer");
  ASSERT_TRUE(ms);
  EXPECT_EQ(valueOf(ms->valueCount()), 0u);
  EXPECT_EQ(profile.getString("MessageServer\\agent1", "UserProfile"), "tok");

  EXPECT_TRUE(profile.deleteSection("NeverWritten"));
}

}  // namespace

// The intelligent-I/O family through the real agent: halvorn loads Vantrel, kelmsim serves the
// simulated Palindrex driver, and a TCP client reads what the console's controller, array, disk and
// enclosure pages will read.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "components/iop/tests/module_rows.h"
#include "message/message.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {
namespace {

using iop::testing::ModuleRow;

class IopThroughAgent : public ::testing::Test {
 protected:
  IopThroughAgent() : root_({AgentRoot::lib("libvantrel.so")}) {
    EXPECT_TRUE(sims_.started());
    EXPECT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  }
  std::unique_ptr<AgentClient> LoggedOn(const AgentProcess& agent) {
    auto c = agent.Tcp();
    if (!c || c->LogonWithin(60000, "admin", "secret") != 800) return nullptr;
    return c;
  }
  AgentRoot root_;
  SteppedSimulators sims_;
};

// The disk page's mode and configuration texts.
std::string ModeText(const std::string& timing) {
  const auto v = static_cast<std::uint32_t>(std::strtol(timing.c_str(), nullptr, 10));
  return std::string(v & 0x80000000u ? "UDMA" : "DMA") + "-" + std::to_string(v & 0xFF);
}
std::string ConfigurationText(const std::string& status) {
  switch (static_cast<std::uint32_t>(std::strtol(status.c_str(), nullptr, 10)) & 0xFF00) {
    case 0x100:
    case 0x300: return "Free";
    case 0x200: return "Assigned to an array";
    default: return "-----------";
  }
}

TEST_F(IopThroughAgent, WhatThePagesReadFromTheSimulatedCards) {
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto c = LoggedOn(agent);
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->Cd("VANTREL_RAID/IOP1"));

  // The controller page's module list.
  auto modules = c->Value("ModuleList");
  auto engine = c->Value("Quorlin");
  ASSERT_TRUE(modules && engine);
  auto rows = iop::testing::PageRows(*modules, *engine);
  ASSERT_TRUE(rows) << *modules;
  EXPECT_EQ(*rows, (std::vector<ModuleRow>{{"Palindrex I2O Firmware", "0102", "06/15/2002", "524288"},
                                           {"Palindrex BIOS", "0011", "03/01/2002", "65536"},
                                           {"Quorlin RAID Engine", "0300", "", "131072"}}));

  // The array page reads a healthy array's status at once, without a refresh.
  ASSERT_TRUE(c->Cd("Array1"));
  EXPECT_EQ(c->Value("Status"), "0");
  EXPECT_EQ(c->Value("ThrottleStatus"), "0");

  // A member disk: functional, assigned to an array, Ultra DMA mode 5.
  ASSERT_TRUE(c->Cd("master00"));
  auto status = c->Value("Status");
  auto timing = c->Value("Timing_Mode");
  ASSERT_TRUE(status && timing);
  EXPECT_EQ(std::strtol(status->c_str(), nullptr, 10) & 0x800000FF, 0) << "Functional";
  EXPECT_EQ(ConfigurationText(*status), "Assigned to an array");
  EXPECT_EQ(ModeText(*timing), "UDMA-5");
  // A free disk.
  ASSERT_TRUE(c->Cd("../../ch4/master"));
  status = c->Value("Status");
  ASSERT_TRUE(status);
  EXPECT_EQ(ConfigurationText(*status), "Free");

  // The enclosure page shows the supplies in volts from millivolts.
  ASSERT_TRUE(c->Cd("../../Enclosure1/brindle1"));
  auto volts = [&](const char* property) {
    auto v = c->Value(property);
    if (!v) return std::string("<none>");
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::atoi(v->c_str()) * 0.001);
    return std::string(text);
  };
  EXPECT_EQ(volts("Power5VStatus"), "5.00");
  EXPECT_EQ(volts("Power12VStatus"), "12.00");
  ASSERT_TRUE(c->Cd("../corvane4"));
  EXPECT_EQ(volts("Power5VStatus"), "4.98");
  EXPECT_EQ(volts("Power12VStatus"), "12.05");
}

TEST_F(IopThroughAgent, TheDriverFileLiesBesideTheIdeDriversWhereTheSetupProbes) {
  const auto drivers = root_.dir() / "windows/system32/drivers";
  EXPECT_TRUE(std::filesystem::exists(drivers / "marovelt.sys"));
  EXPECT_TRUE(std::filesystem::exists(drivers / "quorvan.sys"));
}

}  // namespace
}  // namespace kelm::systest

#include "setup/core/setup_model.h"

#include "platform/base/paths.h"
#include "setup/core/medium_files.h"

namespace kelm::setup {
namespace {

constexpr ComponentInfo kComponents[kComponentCount] = {
    {"Remote Monitoring Utility", "$Remote", "Remote Monitoring Utility"},
    {"Local Monitoring Utility", "$Local", "Local Monitoring Utility"},
    {"Message Server", "$Server", "Message Server"},
    {"Message Agent", "$Agent", "Message Agent"},
    {"Palindrex Component", "$I2O", "Vantrel"},
    {"Marovelt Component", "$MV", "Tirrow"},
    {"Sorventic Component", "$SC", "Brask"},
};

Marks marksOf(std::initializer_list<int> on) {
  Marks m{};
  for (int i : on) m[static_cast<std::size_t>(i)] = true;
  return m;
}

// The family component that goes with a hardware choice.
int familyOf(Hardware h) {
  switch (h) {
    case Hardware::kSorventic:
      return kSC;
    case Hardware::kPalindrex:
      return kI2O;
    case Hardware::kMarovelt:
      return kMV;
    case Hardware::kAll:
      break;
  }
  return -1;
}

}  // namespace

const ComponentInfo& componentInfo(int index) { return kComponents[index]; }

const char* installTypeText(InstallType t) {
  static const char* const kTexts[] = {"All Components", "Customize", "Marovelt ", "Palindrex ", "Sorventic "};
  return kTexts[static_cast<int>(t)];
}

const char* hardwareText(Hardware h) {
  static const char* const kTexts[] = {"Sorventic ", "Palindrex ", "Marovelt", "All"};
  return kTexts[static_cast<int>(h)];
}

const char* programModeText(ProgramMode m) {
  static const char* const kTexts[] = {"RAID Server", "RAID Agent", "Remote Client", "Local Client", "Other"};
  return kTexts[static_cast<int>(m)];
}

const char* programModeDescription(ProgramMode m) {
  static const char* const kTexts[] = {
      "The RAID Server establishes a connection across a network for monitoring your hard drives.",
      "The RAID Agent works to communicate between the RAID Server and Velkari card.",
      "The Remote Client lets you monitor components of all other Velkari arrays located on the specified network.",
      "The Local Client allows monitoring of the array components used with this particular Velkari RAID controller "
      "and PC only.",
      "When Other is selected, you must manually select which array software components to use.",
  };
  return kTexts[static_cast<int>(m)];
}

std::filesystem::path driversDir() { return plat::paths::windowsDir() / "system32" / "drivers"; }

int ProbeInstalledDriver(const std::filesystem::path& dir) {
  if (FindFileNoCase(dir, "marovelt.sys")) return 2;
  if (FindFileNoCase(dir, "quorvan.sys")) return 3;
  return 0;
}

// ---- page 1 ----

void Step1Presenter::OnInitDialog(int probe) {
  // This system is never the old consumer Windows, so only the probe decides.
  if (probe == 3)
    type_ = InstallType::kPalindrex;
  else if (probe == 2)
    type_ = InstallType::kMarovelt;
  else
    type_ = InstallType::kSorventic;
}

void Step1Presenter::OnInstallTypeChange(int index) {
  if (index >= 0 && index < kInstallTypeCount) type_ = static_cast<InstallType>(index);
}

// ---- page 2 ----

void Step2Presenter::OnInitDialog() {
  marks_ = {};
  mode_ = ProgramMode::kRaidServer;
  hardware_ = Hardware::kSorventic;
  UpdateComponentChecks();
}

void Step2Presenter::SetMode(ProgramMode m) {
  mode_ = m;
  UpdateComponentChecks();
}

void Step2Presenter::SetHardware(Hardware h) {
  hardware_ = h;
  UpdateComponentChecks();
}

void Step2Presenter::SetMark(int index, bool on) {
  if (index < 0 || index >= kComponentCount) return;
  marks_[static_cast<std::size_t>(index)] = on;
  bool all = true;
  for (bool m : marks_) all = all && m;
  selectAll_ = all;
}

void Step2Presenter::SelectAll() {
  marks_.fill(true);
  selectAll_ = true;
  // Setting the list's selection is no change by the administrator: the marks stay.
  hardware_ = Hardware::kAll;
}

void Step2Presenter::UpdateComponentChecks() {
  listEnabled_ = false;
  selectAllEnabled_ = false;
  hardwareEnabled_ = true;
  selectAll_ = false;
  const int family = familyOf(hardware_);
  switch (mode_) {
    case ProgramMode::kLocalClient:
      marks_ = family >= 0 ? marksOf({kLocal, kAgent, family}) : marksOf({kLocal, kAgent, kI2O, kMV, kSC});
      break;
    case ProgramMode::kRemoteClient:
      marks_ = marksOf({kRemote});
      break;
    case ProgramMode::kRaidServer:
      marks_ = marksOf({kServer});
      break;
    case ProgramMode::kRaidAgent:
      marks_ = family >= 0 ? marksOf({kAgent, family}) : marksOf({kAgent, kI2O, kMV, kSC});
      break;
    case ProgramMode::kOther:
      listEnabled_ = true;
      selectAllEnabled_ = true;
      break;
  }
}

std::string Step2Presenter::OnWizardNext() const {
  for (bool m : marks_)
    if (m) return {};
  return "You have not selected any component. Please select again.";
}

// ---- page 3 ----

Summary SummaryFor(InstallType type, const Step2Presenter& custom) {
  Summary s;
  const auto express = [&](const char* hw, const char* family, int index) {
    s.hardware = hw;
    s.mode = "Remote All";
    s.components = std::string("Remote Monitoring Utility \nMessage Server \nMessage Agent \n") + family;
    s.install = marksOf({kRemote, kServer, kAgent, index});
  };
  switch (type) {
    case InstallType::kMarovelt:
      express("Marovelt", "Tirrow", kMV);
      break;
    case InstallType::kPalindrex:
      express("Palindrex", "Vantrel", kI2O);
      break;
    case InstallType::kSorventic:
      express("Sorventic", "Brask", kSC);
      break;
    case InstallType::kAll:
      s.hardware = "All";
      s.mode = "Other";
      s.components =
          "Remote Monitoring Utility \nLocal Monitoring Utility \nMessage Server \nMessage Agent \nVantrel \nTirrow "
          "\nBrask";
      s.install.fill(true);
      break;
    case InstallType::kCustom: {
      static const char* const kHardware[] = {"Sorventic", "Palindrex", "Marovelt", "All"};
      s.hardware = kHardware[static_cast<int>(custom.hardware())];
      s.mode = programModeText(custom.mode());
      s.install = custom.marks();
      for (int i = 0; i < kComponentCount; ++i)
        if (s.install[static_cast<std::size_t>(i)]) s.components += std::string(kComponents[i].summaryWord) + "\n";
      break;
    }
  }
  return s;
}

std::string SummaryHeading(InstallType type) {
  switch (type) {
    case InstallType::kMarovelt:
      return " Express Installation for Marovelt";
    case InstallType::kPalindrex:
      return " Express Installation for Palindrex";
    case InstallType::kSorventic:
      return " Express Installation for Sorventic";
    case InstallType::kAll:
      return " Express Installation for All Components";
    case InstallType::kCustom:
      break;
  }
  return "Custom Installation";
}

std::string PartList(const Marks& install) {
  std::string list;
  for (int i = 0; i < kComponentCount; ++i)
    if (install[static_cast<std::size_t>(i)]) list += kComponents[i].partWord;
  return list;
}

std::string PartArgument(const Marks& install) { return "-PART=\"" + PartList(install) + "\""; }

bool StopsAgent(const Marks& m) { return m[kAgent] || m[kI2O] || m[kMV] || m[kSC]; }
bool StopsServer(const Marks& m) { return m[kServer]; }

}  // namespace kelm::setup

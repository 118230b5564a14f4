#pragma once
// What the setup wizard chooses, without any window: the seven parts, the installation types of
// the first page, the program modes and hardware of the second, the summary of the third, and
// the installer's part argument.
#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace kelm::setup {

inline constexpr int kComponentCount = 7;
enum Component : int { kRemote = 0, kLocal, kServer, kAgent, kI2O, kMV, kSC };

struct ComponentInfo {
  const char* listText;     // the custom list's line
  const char* partWord;     // the installer's word
  const char* summaryWord;  // the summary's line
};
const ComponentInfo& componentInfo(int index);

using Marks = std::array<bool, kComponentCount>;

// The first page's list, in its (sorted) order.
enum class InstallType : int { kAll = 0, kCustom, kMarovelt, kPalindrex, kSorventic };
inline constexpr int kInstallTypeCount = 5;
const char* installTypeText(InstallType t);

// The second page's hardware list, unsorted, in this order.
enum class Hardware : int { kSorventic = 0, kPalindrex, kMarovelt, kAll };
inline constexpr int kHardwareCount = 4;
const char* hardwareText(Hardware h);

// The second page's radio buttons.
enum class ProgramMode : int { kRaidServer = 0, kRaidAgent, kRemoteClient, kLocalClient, kOther };
inline constexpr int kProgramModeCount = 5;
const char* programModeText(ProgramMode m);
const char* programModeDescription(ProgramMode m);

// Which driver file is installed: 2 for the IDE family's, 3 for the intelligent-I/O family's,
// else 0. `driversDir` is searched without regard to case.
int ProbeInstalledDriver(const std::filesystem::path& driversDir);
// The drivers folder of the system directory.
std::filesystem::path driversDir();

// The first page: one installation type at a time.
class Step1Presenter {
 public:
  // Selects the type the installed driver suggests.
  void OnInitDialog(int probe);
  void OnInstallTypeChange(int index);
  InstallType type() const { return type_; }
  // The page Next goes to: 2 for custom, else 3.
  int NextPage() const { return type_ == InstallType::kCustom ? 2 : 3; }

 private:
  InstallType type_ = InstallType::kSorventic;
};

// The second page: the custom choice.
class Step2Presenter {
 public:
  void OnInitDialog();
  void SetMode(ProgramMode m);
  void SetHardware(Hardware h);
  // The administrator ticked or cleared one component.
  void SetMark(int index, bool on);
  // "Select All" clicked into its ticked state.
  void SelectAll();
  // Sets the marks by mode and hardware.
  void UpdateComponentChecks();
  // Empty when Next may go on, else the message to show (the page stays).
  std::string OnWizardNext() const;

  ProgramMode mode() const { return mode_; }
  Hardware hardware() const { return hardware_; }
  const Marks& marks() const { return marks_; }
  bool selectAllChecked() const { return selectAll_; }
  bool listEnabled() const { return listEnabled_; }
  bool selectAllEnabled() const { return selectAllEnabled_; }
  bool hardwareEnabled() const { return hardwareEnabled_; }
  const char* description() const { return programModeDescription(mode_); }

 private:
  Marks marks_{};
  ProgramMode mode_ = ProgramMode::kRaidServer;
  Hardware hardware_ = Hardware::kSorventic;
  bool selectAll_ = false;
  bool listEnabled_ = false;
  bool selectAllEnabled_ = false;
  bool hardwareEnabled_ = true;
};

// The third page's summary.
struct Summary {
  std::string hardware;
  std::string mode;
  std::string components;
  Marks install{};
};
Summary SummaryFor(InstallType type, const Step2Presenter& custom);
std::string SummaryHeading(InstallType type);

// The part words of the marked components, in table order, joined without separators.
std::string PartList(const Marks& install);
// The installer's one argument: -PART= and the part list in double quotes.
std::string PartArgument(const Marks& install);
// Whether the finish stops the agent (the agent or a family component) and the server.
bool StopsAgent(const Marks& install);
bool StopsServer(const Marks& install);

}  // namespace kelm::setup

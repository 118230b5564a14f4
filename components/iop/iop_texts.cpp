#include "components/iop/iop_texts.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <map>

#include "components/iop/api_message.h"

namespace kelm::iop {

namespace {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::vsnprintf(nullptr, 0, format, args);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, again);
#pragma GCC diagnostic pop
  va_end(again);
  va_end(args);
  return out;
}

struct EventRow {
  std::uint32_t type;
  EventTexts texts;
};
constexpr EventRow kEvents[] = {
    {256, {1201, 1101, 3}},  {257, {1202, 1102, 3}},  {258, {1203, 1103, 3}},  {512, {1204, 1104, 6}},
    {513, {1205, 1105, 5}},  {514, {1206, 1106, 5}},  {515, {1207, 1107, 8}},  {516, {1208, 1108, 2}},
    {517, {1209, 1109, 7}},  {518, {1210, 1110, 4}},  {519, {1211, 1111, 2}},  {520, {1212, 1112, 2}},
    {521, {1213, 1113, 2}},  {522, {1214, 1114, 2}},  {523, {1216, 1116, 5}},  {524, {1215, 1115, 2}},
    {525, {1217, 1117, 9}},  {526, {1218, 1118, 10}}, {527, {1219, 1119, 10}}, {528, {1220, 1120, 10}},
    {529, {1221, 1121, 10}},
};

const std::map<int, const char*>& Strings() {
  static const std::map<int, const char*> table = {
      {1101, "Drive %s failed."},
      {1102, "Drive %s was attached to Palindrex."},
      {1103, "Error occurred in the reserved sector of the drive %s."},
      {1104, "Array %s has bad sector at LBA 0x%08x, which is genereated by drive %s at LBA 0x%08x"},
      {1105, "Rebuild begun on Drive %s of Array %s."},
      {1106, "Automatic rebuild begun by Engine on Drive %s of Array %s."},
      {1107, "Rebuild halted by User on Drive %s of Array %s."},
      {1108, "Synchronization begun for Array %s"},
      {1109, "Synchronization halted by user on Array %s at %s percent completed."},
      {1110, "Retry drive access in Array %s Drive %s"},
      {1111, "Create a new array %s."},
      {1112, "Delete array %s."},
      {1113, "Array %s was set down."},
      {1114, "Array %s has entered degraded mode."},
      {1115, "Synchronization successfully completed on Array %s."},
      {1116, "Rebuild succesfully completed for Drive %s in Array %s."},
      {1117, "Drive %s of Array %s has Read Write Error ch%s LBA=%x cmd=%x Disk Status= %x."},
      {1118, "Over Temp for Enclosure in ch%s for Disk %s. Temp value = %f"},
      {1119, "Fan Stop for Enclosure in ch%s for Disk %s RPM = %d"},
      {1120, "5V Over/Under Threshold for ch %s for Disk %s 5V = %.3f V"},
      {1121, "12V Over/Under Threshold for ch %s for Disk %s 12V = %.3f V"},
      {1201, "Drive Fail"},
      {1202, "Drive Installation"},
      {1203, "Reserve Sector"},
      {1204, "Bad Sector"},
      {1205, "Rebuild Begin."},
      {1206, "Array Rebuild Begun"},
      {1207, "Rebuild Halt"},
      {1208, "Synchronization Begun"},
      {1209, "Synchronization Halt"},
      {1210, "Retry Drive"},
      {1211, "Array Created"},
      {1212, "Array Deleted"},
      {1213, "Array Down"},
      {1214, "Array Degraded"},
      {1215, "Synchronization Completed"},
      {1216, "Rebuild Completed"},
      {1217, "Read/Write Error"},
      {1218, "Over Temperature"},
      {1219, "Fan Stopped"},
      {1220, "5V Error"},
      {1221, "12V Error"},
  };
  return table;
}

// Where the United Kingdom table differs.
const char* UkString(int id) {
  switch (id) {
    case 1205:
      return "Rebuild Begun";
    case 1206:
      return "Automatic Rebuild Begun";
    default:
      return nullptr;
  }
}

constexpr const char* kRaidWords[] = {"RAID0(STRIPING)",         "RAID1(MIRROR)",
                                      "RAID0+1(STRIPE-MIRRORING)", "RAID3(PARITY-DEDICATED)",
                                      "RAID5(PARITY-DISTRIBUTED)", "SPAN"};
constexpr std::uint32_t kRaidCodes[] = {0, 1, 1, 2, 4, 8};

}  // namespace

int SeriesOf(std::uint32_t word) { return static_cast<int>((word >> 4) & 0xF); }

std::string HardwareVersionText(std::uint32_t word) {
  const unsigned model = word & 0xF;
  const int series = SeriesOf(word);
  const unsigned family = (word >> 8) & 0xFF;
  std::string text;
  if (family != 0) text = series != 0 ? "Palindrex " : Format("Palindrex %d, ", family);
  static constexpr char kLetters[] = {'\0', 'R', 'Q', 'S'};
  if (series >= 1 && series <= 3) {
    text += Format("%cX%u000 ", kLetters[series], model);
  } else {
    text += Format("ZORA %u ", model);
  }
  return text;
}

std::string RaidModeText(std::uint32_t level, std::size_t members) {
  switch (level) {
    case 0:
      return kRaidWords[0];
    case 1:
      return members <= 2 ? kRaidWords[1] : kRaidWords[2];
    case 2:
      return kRaidWords[3];
    case 4:
      return kRaidWords[4];
    case 8:
      return kRaidWords[5];
    default:
      return "";
  }
}

std::optional<std::uint32_t> LevelCodeOf(std::string_view word) {
  for (std::size_t i = 0; i < std::size(kRaidWords); ++i)
    if (word == kRaidWords[i]) return kRaidCodes[i];
  return std::nullopt;
}

std::string DiskSizeText(std::uint32_t blocks) {
  if (blocks > 0x1FFFFF) return Format("%.2f GB", blocks / 2097152.0);
  return Format("%.2f MB", blocks / 2048.0);
}

std::optional<ControllerEvent> FirstEvent(const std::vector<std::uint8_t>& records) {
  if (records.size() < 16) return std::nullopt;
  ControllerEvent e;
  e.type = GetLe(records, 0, 4);
  e.second = GetLe(records, 4, 4);
  e.severity = GetLe(records, 8, 4);
  const std::uint32_t n = GetLe(records, 12, 4);
  if (n > (records.size() - 16) / 4) return std::nullopt;
  for (std::uint32_t i = 0; i < n; ++i) e.args.push_back(GetLe(records, 16 + 4 * i, 4));
  return e;
}

EventTexts EventTextsOf(std::uint32_t type) {
  for (const EventRow& row : kEvents)
    if (row.type == type) return row.texts;
  return {1200, 1100, 1};
}

std::string LoadString(int id, int language) {
  if (language == 2057)
    if (const char* uk = UkString(id)) return uk;
  auto it = Strings().find(id);
  return it == Strings().end() ? "" : it->second;
}

std::string EventMessage(const ControllerEvent& e, int language,
                         const std::function<std::string(std::uint32_t)>& disk,
                         const std::function<std::string(std::uint32_t)>& array) {
  const EventTexts t = EventTextsOf(e.type);
  const std::string f = LoadString(t.text, language);
  if (f.empty()) return "";
  const char* fmt = f.c_str();
  const std::size_t n = e.args.size();
  auto count = [&](std::size_t i, std::uint32_t add = 0) {
    return Format("%d", static_cast<int>(e.Arg(i) + add));
  };
  switch (t.pattern) {
    case 2:
      return Format(fmt, array(e.Arg(0)).c_str());
    case 3:
      return Format(fmt, disk(e.Arg(0)).c_str());
    case 4:
      return Format(fmt, array(e.Arg(0)).c_str(), disk(e.Arg(1)).c_str());
    case 5:
      return Format(fmt, disk(e.Arg(1)).c_str(), array(e.Arg(0)).c_str());
    case 6:
      return Format(fmt, array(e.Arg(0)).c_str(), e.Arg(1), disk(e.Arg(2)).c_str(), e.Arg(3));
    case 7:
      return Format(fmt, array(e.Arg(0)).c_str(), (n > 1 ? count(1) : std::string("N/A")).c_str());
    case 8:
      return Format(fmt, disk(e.Arg(1)).c_str(), array(e.Arg(0)).c_str(),
                    (n > 2 ? count(2) : std::string("N/A")).c_str());
    case 9:
      return Format(fmt, disk(e.Arg(1)).c_str(), array(e.Arg(0)).c_str(), count(2, 1).c_str(), e.Arg(3), e.Arg(4),
                    e.Arg(5));
    case 10: {
      const std::string channel = count(0, 1);
      const std::string d = disk(e.Arg(1));
      if (e.type == 527) return Format(fmt, channel.c_str(), d.c_str(), static_cast<int>(e.Arg(2)));
      const double value = static_cast<int>(e.Arg(2)) * (e.type == 526 ? 0.5 : 0.001);
      return Format(fmt, channel.c_str(), d.c_str(), value);
    }
    default:
      return Format("%s", fmt);
  }
}

}  // namespace kelm::iop

#pragma once
// Node type numbers, component type names and event records: what the agent and the console
// know of every component.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/guid.h"

namespace kelm::fw {

// Node type numbers, carried in every node's handle and in its "o--" listing value.
enum NodeType : int {
  kNodeConsole = 0,
  kNodeServer = 1,
  kNodeAgent = 2,
  kNodeUser = 13,
  // Plain framework bases.
  kNodeBase = 16,
  kNodeContainer = 20,
  // Serial family.
  kSerialRoot = 14,
  kSerialController = 23,
  kSerialChannel = 20,
  kSerialEnclosure = 25,
  kSerialArray = 22,
  kSerialDisk = 24,
  // IDE family.
  kIdeController = 19,
  kIdeArray = 18,
  kIdeChannel = 20,
  kIdeDisk = 21,
  kIdeDiskMember = 24,
  kIdeEnclosureGroup = 7,
  // Intelligent-I/O family.
  kIopController = 4,
  kIopArray = 3,
  kIopChannel = 5,
  kIopDisk = 6,
  kIopEnclosure = 7,
};

// Component type names under IO_CLSID.
inline constexpr std::string_view kTypeSerial = "SC_RAID";
inline constexpr std::string_view kTypeIde = "MV_RAID";
inline constexpr std::string_view kTypeIop = "VANTREL_RAID";
inline constexpr std::string_view kTypeIdeQx = "MVQX_RAID";  // known to the console; no component registers it

// What a component registers: its class, names and type name.
struct ComponentIdentity {
  plat::com::Guid clsid;
  std::string_view typeName;
  std::string_view progId;
  std::string_view versionIndependentProgId;
  std::string_view helpString;  // the class's description
};

inline constexpr ComponentIdentity kBrask{plat::com::guid("{88AE717A-ACF1-4BBA-B7E3-C13F64F8908A}"), kTypeSerial,
                                          "VelkariRAID.SorventicRAID.1", "SorventicRAID.Brask", "brk Class"};
inline constexpr ComponentIdentity kTirrow{plat::com::guid("{BCA456A1-D159-11D4-BB07-0050DA2E128F}"), kTypeIde,
                                           "VelkariRAID.MaroveltRAID.1", "MaroveltRAID.Tirrow", "mvr Class"};
inline constexpr ComponentIdentity kVantrel{plat::com::guid("{3CFC3281-E902-11D1-B4A7-00A02448219B}"), kTypeIop,
                                            "VelkariRAID.Vantrel.1", "VelkariRAID.Vantrel", "i2o Class"};

// The key under HKEY_LOCAL_MACHINE that lists the components.
inline constexpr std::string_view kMakerKey = "SOFTWARE\\Velkari Technology, Inc.";
inline constexpr std::string_view kAgentKey = "SOFTWARE\\Velkari Technology, Inc.\\Message Agent";
inline constexpr std::string_view kIoClsidKey = "SOFTWARE\\Velkari Technology, Inc.\\Message Agent\\IO_CLSID";

// One event record: "%d@%d@%d@%s@%s" (code, time in seconds since 1970, severity class, title, text).
struct EventRecord {
  std::int32_t code = 0;
  std::int64_t time = 0;
  std::int32_t severity = 0;
  std::string title;
  std::string text;

  // The readers split at '@', so an '@' inside the title or the text is written as a blank.
  std::string format() const;
  // Five fields with three decimal numbers; nothing for anything else.
  static std::optional<EventRecord> parse(std::string_view record);
};

}  // namespace kelm::fw

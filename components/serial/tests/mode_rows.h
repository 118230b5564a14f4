#pragma once
// The serial family's array mode names and the library's index for each, for the tests that map
// one to the other.
namespace kelm::brask_tables {

struct ModeRow {
  const char* name;
  int index;
};

inline constexpr ModeRow kModeRows[] = {{"RAID0(STRIPING)", 0},
                                        {"RAID1(MIRROR)", 1},
                                        {"RAID0+1(STRIPE-MIRRORING)", 2},
                                        {"RAID3(PARITY-DEDICATED)", 4},
                                        {"RAID5(PARITY-DISTRIBUTED)", 5},
                                        {"RAID30", 6},
                                        {"RAID50", 7},
                                        {"SPAN", 3}};

}  // namespace kelm::brask_tables

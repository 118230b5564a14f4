#pragma once
#include "components/framework/component_types.h"

namespace kelm::fw {

inline constexpr ComponentIdentity kTestComponent{plat::com::guid("{7E57C0DE-0000-4000-8000-00000000C0DE}"),
                                                  "TEST_RAID", "KelmTest.TestRAID.1", "KelmTest.TestRAID",
                                                  "test Class"};

}  // namespace kelm::fw

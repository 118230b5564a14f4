#include "platform/testing/seeded_random.h"

namespace plat {

std::uint32_t SeededRandom::next32() { return static_cast<std::uint32_t>(splitMix64(state_) >> 32); }

}  // namespace plat

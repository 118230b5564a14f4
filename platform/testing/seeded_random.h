#pragma once
// A test double for randomness: the same sequence for the same seed.
#include <cstdint>

#include "platform/base/clock.h"

namespace plat {

// A repeatable random source for tests.
class SeededRandom final : public Random {
 public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
  std::uint32_t next32() override;

 private:
  std::uint64_t state_;
};

}  // namespace plat

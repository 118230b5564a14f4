#include "platform/base/log_throttle.h"

namespace plat {

std::optional<std::string> LogThrottle::admit(const std::string& kind, const std::string& line) {
  const std::int64_t now = clock_.monotonicMs();
  auto it = kinds_.find(kind);
  static const std::string kOther = "(other)";
  if (it == kinds_.end()) {
    if (kinds_.size() >= kMaxKinds && kind != kOther) {
      // Forget the kinds whose interval has passed; their left-out counts were said already or
      // are too old to matter less than the room.
      for (auto k = kinds_.begin(); k != kinds_.end();)
        k = now - k->second.lastMs >= intervalMs_ && k->second.leftOut == 0 ? kinds_.erase(k) : std::next(k);
    }
    if (kinds_.size() >= kMaxKinds && kind != kOther) return admit(kOther, line);
    kinds_[kind] = Kind{now, 0};
    return line;
  }
  Kind& k = it->second;
  if (now - k.lastMs < intervalMs_) {
    ++k.leftOut;
    return std::nullopt;
  }
  std::string out = line;
  if (k.leftOut > 0) out += " (" + std::to_string(k.leftOut) + " more like it left out)";
  k.lastMs = now;
  k.leftOut = 0;
  return out;
}

}  // namespace plat

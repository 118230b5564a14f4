#include "serialapi/settings.h"

namespace glimmora {

Settings readRegistrySettings() {
  // The registry store is not available yet: every value is absent, which means automatic detection.
  return {};
}

}  // namespace glimmora

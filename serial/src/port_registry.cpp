#include "port_registry.h"

#include <limits.h>
#include <stdlib.h>

#include <mutex>
#include <set>

namespace qc {

namespace {
std::mutex registryMutex;
std::set<std::string>& Claimed() {
  static std::set<std::string> names;
  return names;
}
}  // namespace

std::string CanonicalDeviceName(const std::string& name) {
  char resolved[PATH_MAX];
  if (realpath(name.c_str(), resolved)) return resolved;
  return name;
}

bool ClaimDevice(const std::string& canonical) {
  std::lock_guard<std::mutex> lock(registryMutex);
  return Claimed().insert(canonical).second;
}

void ReleaseDevice(const std::string& canonical) {
  std::lock_guard<std::mutex> lock(registryMutex);
  Claimed().erase(canonical);
}

}  // namespace qc

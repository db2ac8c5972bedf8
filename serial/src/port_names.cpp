#include "serial/port_names.h"

#include <mutex>

namespace qc {

namespace {
std::mutex resolverMutex;
PortResolver& ResolverSlot() {
  static PortResolver resolver;
  return resolver;
}
}  // namespace

void SetPortResolver(PortResolver resolver) {
  std::lock_guard<std::mutex> lock(resolverMutex);
  ResolverSlot() = std::move(resolver);
}

std::string DefaultPortDevice(int comNumber) {
  if (comNumber < kMinComNumber || comNumber > kMaxComNumber) return {};
  return "/dev/ttyS" + std::to_string(comNumber - 1);
}

std::string ResolvePort(int comNumber) {
  if (comNumber < kMinComNumber || comNumber > kMaxComNumber) return {};
  PortResolver resolver;
  {
    std::lock_guard<std::mutex> lock(resolverMutex);
    resolver = ResolverSlot();
  }
  return resolver ? resolver(comNumber) : DefaultPortDevice(comNumber);
}

}  // namespace qc

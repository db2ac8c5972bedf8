// Mapping of ComNumber 1..6 to a device path.
//
// The program sets the resolver from the [Ports] section of QC.INI; until
// then ComNumber n is /dev/ttyS(n-1). The serial layer knows nothing of the
// settings: the resolver is a plain callback.
#pragma once

#include <functional>
#include <string>

namespace qc {

constexpr int kMinComNumber = 1;
constexpr int kMaxComNumber = 6;

// Returns the device path of port n (1..6); an empty result means "no such
// port" and opening gives ecBadId.
using PortResolver = std::function<std::string(int comNumber)>;

// Installs a resolver for all port components; an empty function restores
// the default.
void SetPortResolver(PortResolver resolver);

// The device of port n: the installed resolver's answer, or /dev/ttyS(n-1).
// Empty for n outside 1..6.
std::string ResolvePort(int comNumber);

std::string DefaultPortDevice(int comNumber);

}  // namespace qc

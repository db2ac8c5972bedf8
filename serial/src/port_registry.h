// The devices that port components of this program hold open: a second
// component asking for one of them is told "already open" (ecAlreadyOpen),
// not "held by another program".
#pragma once

#include <string>

namespace qc {

// The name two paths to one device share (the resolved path when it exists).
std::string CanonicalDeviceName(const std::string& name);

// True and recorded, or false when another component holds `canonical`.
bool ClaimDevice(const std::string& canonical);
void ReleaseDevice(const std::string& canonical);

}  // namespace qc

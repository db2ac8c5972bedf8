#include "control/strings.h"
#include "engine/fax_types.h"

namespace qc {

std::string ProgressText(int code) {
  if (code < 1 || code > 43) return {};
  return LoadResString(13000 + code);
}

}  // namespace qc

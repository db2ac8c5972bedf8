#include "control/errors.h"

#include <cstdlib>

#include "control/strings.h"

namespace qc {

int ErrorStringNumber(int code) {
  // Codes are 16-bit values in the string table's scheme.
  const int m = std::abs(code) & 0xFFFF;
  if (m >= 100 && m <= 199) return 11800 + m;
  return 11000 + (m % 1000) + 100 * (m / 1000);
}

std::string ErrorText(int code) {
  std::string text = LoadResString(ErrorStringNumber(code));
  if (text.size() > 79) text.resize(79);
  return text;
}

int RaiseForCode(int code, bool loading) {
  if (code >= 0 || loading) return code;
  switch (code) {
#define QC_RAISE_LISTED(Name, Base, Code) \
  case Code:                              \
    throw Name(ErrorText(code), code);
    QC_EXCEPTION_LIST(QC_RAISE_LISTED)
#undef QC_RAISE_LISTED
    case ecNoFieldsDefined:
    case ecNoIndexKey:
    case ecDatabaseNotPrepared:
      throw EInternal(ErrorText(code), code);
    case ecTimeout:
    case ecTooManyErrors:
    case ecSequenceError:
      throw EProtocol(ErrorText(code), code);
    case ecOutOfMemory:
      throw EOutOfMemory(ErrorText(code));
    default:
      break;
  }
  if (code <= -2 && code >= -162) throw EInOutError(ErrorText(code), -code);
  throw EQcException("Fax library exception", 0);
}

}  // namespace qc

#include "store/store_errors.h"

#include "control/errors.h"

namespace qc {

std::string StoreErrorText(int code) {
  switch (code) {
    case seBadTable: return "Not a table this program can read";
    case seBadIndex: return "Index file damaged";
    case seBadExpression: return "Invalid expression";
    case seUnknownField: return "Unknown field";
    case seTableInUse: return "Table is in use by another program";
    case seCodePage: return "Text cannot be stored in the table's code page";
    case seBadValue: return "Value does not fit the field";
    case seNoRecord: return "No current record";
    case seNotOpen: return "Table is not open";
    case seWrongState: return "Table is not in the right state for this operation";
    case seUnknownTag: return "Unknown index tag";
    case seTagExists: return "Index tag exists already";
    case seReadOnly: return "Table is open for reading only";
    default: return ErrorText(code);
  }
}

}  // namespace qc

// Result codes of the record store, beside the shared file-layer codes
// (ecFileNotFound, ecAccessDenied, ecDiskFull, ...) it also returns.
#pragma once

#include <string>

namespace qc {

enum StoreErrorCode : int {
  seBadTable = -9101,       // the .DBF is not a table this engine can read
  seBadIndex = -9102,       // the .CDX is damaged or does not match its table
  seBadExpression = -9103,  // a key, FOR or filter expression does not compile
  seUnknownField = -9104,   // no field of that name
  seTableInUse = -9105,     // another process holds the table
  seCodePage = -9106,       // text the table's code page cannot hold
  seBadValue = -9107,       // a value that does not fit the field's type
  seNoRecord = -9108,       // no current record
  seNotOpen = -9109,        // the table is not open
  seWrongState = -9110,     // post without edit/append, edit while appending, ...
  seUnknownTag = -9111,     // no tag of that name or number
  seTagExists = -9112,      // a tag of that name exists already
  seReadOnly = -9113,       // the table was opened for reading only
};

// The message of a store code, or ErrorText for every other code.
std::string StoreErrorText(int code);

}  // namespace qc

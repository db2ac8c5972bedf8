// The PCX reader on hostile input: ends with a result code, never crashes,
// hangs or allocates without bound.
#include "reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qc::fuzz::ConvertInput(qc::idPcx, data, size);
  return 0;
}

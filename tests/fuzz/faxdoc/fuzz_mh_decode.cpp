// Coded bytes from the fuzzer into the MH decoder, split into calls at
// places the input chooses; the result must be exactly the bit-by-bit walk's.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "faxdoc/t4.h"
#include "reference_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qc;
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 37;
  const uint8_t* coded = data + 1;
  const size_t n = size - 1;

  test::ReferenceDecoder ref;
  ref.Feed(coded, n);

  TFaxLineDecoder dec;
  uint64_t lines = 0;
  bool same = true;
  dec.SetLineSink([&](const uint8_t* line, int len) {
    if (lines >= ref.lines.size() || ref.lines[lines].size() != static_cast<size_t>(len) ||
        std::memcmp(ref.lines[lines].data(), line, len) != 0)
      same = false;
    ++lines;
  });
  for (size_t i = 0; i < n && !dec.PageEnded(); i += chunk) dec.DecodeBytes(coded + i, chunk < n - i ? chunk : n - i);
  const TFaxDecodeStats& s = dec.Stats();
  if (!same || lines != ref.lines.size() || s.LinesDropped != ref.stats.LinesDropped ||
      s.BadCodes != ref.stats.BadCodes || s.SkipOnesRecoveries != ref.stats.SkipOnesRecoveries ||
      dec.PageEnded() != ref.pageEnded)
    std::abort();
  return 0;
}

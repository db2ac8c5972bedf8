// An APF file from the fuzzer through the header reader, the page chain and
// the unpacker in several modes. Hostile files must end with an error code.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "faxdoc/apf.h"
#include "faxdoc/unpacker.h"

namespace {

std::string TempName() {
  static const std::string name = "/tmp/fuzz_apf_unpack_" + std::to_string(getpid()) + ".apf";
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qc;
  const std::string file = TempName();
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  IsApfFile(file);
  TApfFileHeader header;
  if (ReadApfHeader(file, header) == 0) {
    const unsigned pages = header.PageCount < 4 ? header.PageCount : 4;
    // The last byte picks the unpacker's mode, so one input exercises one of them.
    const uint8_t mode = size ? data[size - 1] : 0;
    TQcFaxUnpacker u;
    u.SetInFileName(file);
    u.SetOptions(0);
    u.SetAutoScaleMode(static_cast<TAutoScaleMode>(mode % 3));
    if (mode & 0x04) {
      u.SetWhitespaceCompression(true);
      u.SetWhitespaceFrom(10);
      u.SetWhitespaceTo(2);
    }
    if (mode & 0x08) {
      u.SetScaling(true);
      u.SetHorizDiv(2);
      u.SetVertMult(3);
      u.SetVertDiv(2);
    }
    long calls = 0;
    if (mode & 0x10) {
      // Per-byte path: status events, and an abort after a while.
      u.OnStatus = [&calls](TQcFaxUnpacker& s, const std::string&, int, long, long) {
        if (++calls == 5000) s.SetOptions(s.Options() | uoAbort);
      };
    }
    for (unsigned n = 1; n <= pages + 1; ++n) {
      TMonoBitmap b;
      u.UnpackPageAsBitmap(n, b);
    }
    u.GetPageCount();
  }
  unlink(file.c_str());
  return 0;
}

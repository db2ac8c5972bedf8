// User input: the owner's OnOpenUserFile, OnReadUserLine and OnCloseUserFile
// events supply the lines.
#include <cstring>

#include "readers.h"

namespace qc {

namespace {

class UserReader final : public TFaxInputReader {
 public:
  explicit UserReader(TQcFaxConverter& owner) : owner_(owner) {}

  std::string DefaultExtension() const override { return owner_.DefUserExtension(); }

  int Open(TFaxConverterContext&, const std::string& fileName) override {
    // Without a line source there is nothing to convert.
    if (!owner_.OnReadUserLine) return ecBadArgument;
    if (owner_.OnOpenUserFile) owner_.OnOpenUserFile(owner_, fileName);
    return ecOK;
  }

  int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
              bool& morePages) override {
    int len = 0;
    endOfPage = false;
    morePages = false;
    owner_.OnReadUserLine(owner_, raster, len, endOfPage, morePages);
    // The handler writes at most one raster line; anything it claims beyond
    // is not taken.
    if (len < 0) len = 0;
    if (len > ctx.RasterBytes()) len = ctx.RasterBytes();
    bytes = len;
    ctx.bytesRead += len;
    return ecOK;
  }

  void Close(TFaxConverterContext&) override {
    if (owner_.OnCloseUserFile) owner_.OnCloseUserFile(owner_);
  }

 private:
  TQcFaxConverter& owner_;
};

}  // namespace

std::unique_ptr<TFaxInputReader> MakeUserReader(TQcFaxConverter& owner) {
  return std::make_unique<UserReader>(owner);
}

}  // namespace qc

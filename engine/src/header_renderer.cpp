#include "header_renderer.h"

#include <algorithm>

#include "control/error_codes.h"
#include "faxdoc/converter.h"

namespace qc {

HeaderRenderer::HeaderRenderer() = default;
HeaderRenderer::~HeaderRenderer() = default;

int HeaderRenderer::Create() { return CreateTextConverter(ctx_); }

int HeaderRenderer::LoadFont(bool small, bool fine) {
  if (!ctx_) return ecOutOfMemory;
  ctx_->fine = fine;
  ctx_->fontType = small ? ffSmall : ffStandard;
  return LoadFaxFont(*ctx_, small ? kSmallFontBytes : kStandardFontBytes, fine);
}

int HeaderRenderer::Rows() const { return ctx_ ? ctx_->font.rows : 0; }

std::span<const uint8_t> HeaderRenderer::CodeRow(std::string_view text, int row) {
  std::fill(ctx_->raster.begin(), ctx_->raster.end(), 0);
  RenderTextRow(*ctx_, text, row, std::span<uint8_t>(ctx_->raster.data(), ctx_->RasterBytes()));
  const int n = EncodeLine(*ctx_, ctx_->raster.data());
  return {ctx_->encoder.Data(), static_cast<size_t>(n)};
}

std::span<const uint8_t> HeaderRenderer::CodePageEnd() {
  const int n = EncodePageEnd(*ctx_);
  return {ctx_->encoder.Data(), static_cast<size_t>(n)};
}

}  // namespace qc

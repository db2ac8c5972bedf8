// Image placement shared by the image readers.
#include <cstring>

#include "readers.h"

namespace qc {

void PlaceImage(TFaxConverterContext& ctx, long long w) {
  const long long W = ctx.width;
  ctx.doubleWidth = (ctx.options & coDoubleWidth) && !ctx.fine && 2 * w <= W - ctx.leftMargin;
  ctx.halfHeight = (ctx.options & coHalfHeight) && !ctx.fine && !ctx.doubleWidth;
  ctx.centerOffset = 0;
  if ((ctx.options & coCenterImage) && W - w > 15) {
    ctx.centerOffset = static_cast<unsigned>(ctx.doubleWidth ? (W - 2 * w) / 32 : (W - w) / 16);
  }
}

void PutImageRow(TFaxConverterContext& ctx, const uint8_t* row, size_t rowBytes, long long imageWidth,
                 uint8_t* raster) {
  const size_t rasterBytes = static_cast<size_t>(ctx.RasterBytes());
  const size_t offset = ctx.centerOffset;
  if (offset >= rasterBytes) return;
  const size_t room = rasterBytes - offset;
  const size_t n = rowBytes < room ? rowBytes : room;
  std::memcpy(raster + offset, row, n);
  const long long fullBytes = imageWidth / 8;
  if (imageWidth % 8 != 0 && static_cast<long long>(n) > fullBytes) {
    raster[offset + fullBytes] &= static_cast<uint8_t>(0xFF00 >> (imageWidth % 8));
  }
}

}  // namespace qc

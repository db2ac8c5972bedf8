// The converter's input readers and what they share.
#pragma once

#include <cstdint>
#include <memory>

#include "faxdoc/converter.h"

namespace qc {

std::unique_ptr<TFaxInputReader> MakeBitmapReader(const TMonoBitmap& bitmap);
std::unique_ptr<TFaxInputReader> MakeTextReader();
std::unique_ptr<TFaxInputReader> MakeTiffReader();
std::unique_ptr<TFaxInputReader> MakePcxReader();
std::unique_ptr<TFaxInputReader> MakeDcxReader();
std::unique_ptr<TFaxInputReader> MakeBmpReader();
std::unique_ptr<TFaxInputReader> MakePbmReader();
std::unique_ptr<TFaxInputReader> MakeUserReader(TQcFaxConverter& owner);

// Placement of an image of `imageWidth` pixels, decided when a reader opens
// its input (or a new page of it): double width, half height and the centring
// offset in bytes.
void PlaceImage(TFaxConverterContext& ctx, long long imageWidth);

// Copies one image row of `rowBytes` raster-form bytes into the raster at the
// centring offset; what would pass the raster's end is dropped, and bits of
// the last byte beyond `imageWidth` pixels are cleared.
void PutImageRow(TFaxConverterContext& ctx, const uint8_t* row, size_t rowBytes, long long imageWidth,
                 uint8_t* raster);

}  // namespace qc

// libtiff as an independent MH codec, entirely in memory (tests and benchmarks).
#pragma once

#include <cstdint>
#include <vector>

#include "test_pages.h"

namespace qc::test {

// A one-page TIFF (CCITT Group 3 one-dimensional, fill order LSB first,
// min-is-white) whose single strip is `coded` exactly as given.
std::vector<uint8_t> WrapMhInTiff(const std::vector<uint8_t>& coded, int width, int height);

// libtiff encodes the raster page as such a TIFF.
std::vector<uint8_t> EncodeTiffMh(const RasterPage& page);

// libtiff decodes the TIFF's first image into raster lines (set bit = black).
// False when libtiff reports an error.
bool DecodeTiff(const std::vector<uint8_t>& tiff, RasterPage& out);

// The undecoded bytes of the TIFF's first strip.
std::vector<uint8_t> RawStrip(const std::vector<uint8_t>& tiff);

// Silences libtiff's warning and error handlers (damaged data is expected in
// some tests); errors still show in the return values.
void QuietLibtiff();

}  // namespace qc::test

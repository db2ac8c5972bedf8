// Bilevel fax pages in TIFF files, through libtiff: what the far terminal
// received is read back row by row; what it is to send is written as
// T.4 one-dimensional pages at the resolutions a fax terminal takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qc::linesim {

struct TiffPage {
  int width = 0;           // pixels
  bool fine = false;       // 196 lines per inch (else 98)
  std::vector<std::vector<uint8_t>> rows;  // width / 8 bytes each, set bit = black, bit 7 leftmost
};

// Empty with `error` set when the file cannot be read.
std::vector<TiffPage> ReadTiffPages(const std::string& path, std::string* error = nullptr);

// False when the file cannot be written.
bool WriteTiffPages(const std::string& path, const std::vector<TiffPage>& pages);

}  // namespace qc::linesim

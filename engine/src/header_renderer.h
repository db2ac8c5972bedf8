// Renders text rows with the built-in fax fonts and codes them as MH scan
// lines: the page header line (small font) and text cover pages (standard
// font). Wraps the converter's text coder created with the session.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace qc {

struct TFaxConverterContext;

class HeaderRenderer {
 public:
  HeaderRenderer();
  ~HeaderRenderer();
  // CreateTextConverter; -8 when memory is short.
  int Create();
  // Loads the small (header) or the standard (cover text) font.
  int LoadFont(bool small, bool fine);
  // Glyph rows of the loaded font (doubled at fine resolution).
  int Rows() const;
  // Renders glyph row `row` (1..Rows) of `text` and codes it as one line.
  std::span<const uint8_t> CodeRow(std::string_view text, int row);
  // The end-of-page code (RTC).
  std::span<const uint8_t> CodePageEnd();

 private:
  std::unique_ptr<TFaxConverterContext> ctx_;
};

}  // namespace qc

// qcfax convert [--fine] [--wide] [--left-margin N] [--top-margin N]
//               [--type text|tiff|pcx|dcx|bmp|pbm] INPUT OUTPUT.APF
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "command.h"
#include "faxdoc/converter.h"

namespace qc::qcfax {

namespace {

struct TypeName {
  const char* name;
  TFaxInputDocumentType type;
};

constexpr TypeName kTypes[] = {
    {"text", idText}, {"tiff", idTiff}, {"pcx", idPcx}, {"dcx", idDcx}, {"bmp", idBmp}, {"pbm", idPbm},
};

// Input type from the extension, letter case ignored.
TFaxInputDocumentType TypeFromExtension(const std::string& file) {
  const size_t slash = file.find_last_of('/');
  const size_t dot = file.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return idNone;
  std::string ext = file.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == "txt" || ext == "text") return idText;
  if (ext == "tif" || ext == "tiff") return idTiff;
  if (ext == "pcx") return idPcx;
  if (ext == "dcx") return idDcx;
  if (ext == "bmp") return idBmp;
  if (ext == "pbm") return idPbm;
  return idNone;
}

// A whole decimal number in 0..max.
bool ParseAmount(const std::string& text, unsigned long max, unsigned long& value) {
  if (text == "0") {
    value = 0;
    return true;
  }
  return ParseCount(text, max, value);
}

}  // namespace

int Run_convert(const Args& args) {
  const ParsedArgs p = ParseArgs(args, {"left-margin", "top-margin", "type"});
  if (!p.error.empty() || p.operands.size() != 2) return Usage("convert");
  bool fine = false, wide = false;
  unsigned long leftMargin = 50, topMargin = 0;
  TFaxInputDocumentType type = idNone;
  for (const auto& [name, value] : p.options) {
    if (name == "fine" && value.empty()) {
      fine = true;
    } else if (name == "wide" && value.empty()) {
      wide = true;
    } else if (name == "left-margin") {
      if (!ParseAmount(value, 2048, leftMargin)) return FailText("left margin must be 0..2048 pixels: " + value);
    } else if (name == "top-margin") {
      if (!ParseAmount(value, 10000, topMargin)) return FailText("top margin must be 0..10000 lines: " + value);
    } else if (name == "type") {
      type = idNone;
      for (const TypeName& t : kTypes) {
        if (value == t.name) type = t.type;
      }
      if (type == idNone) return FailText("unknown input type '" + value + "' (text, tiff, pcx, dcx, bmp or pbm)");
    } else {
      return Usage("convert");
    }
  }
  const std::string& input = p.operands[0];
  const std::string& output = p.operands[1];
  if (type == idNone) type = TypeFromExtension(input);
  if (type == idNone) return FailText(input + ": cannot tell the input type from its name; give --type");

  // Images are coded as they are: no doubling, halving or centring, so the
  // page is the image moved right by the left margin.
  TQcFaxConverter converter;
  converter.SetInputDocumentType(type);
  converter.SetDocumentFile(input);
  converter.SetOutFileName(output);
  converter.SetOptions(0);
  converter.SetResolution(fine ? frHigh : frNormal);
  converter.SetWidth(wide ? fwWide : fwNormal);
  converter.SetLeftMargin(static_cast<unsigned>(leftMargin));
  converter.SetTopMargin(static_cast<unsigned>(topMargin));
  int pages = 0;
  converter.OnStatus = [&](TQcFaxConverter&, bool, bool, int pagesConverted, int, long long, long long, bool&) {
    pages = pagesConverted;
  };
  if (const int r = converter.ConvertToFileStatus(); r != 0) return Fail(input, r);
  std::printf("%s: %d page%s\n", ApfOutputFileName(output, input).c_str(), pages, pages == 1 ? "" : "s");
  return kExitOk;
}

}  // namespace qc::qcfax

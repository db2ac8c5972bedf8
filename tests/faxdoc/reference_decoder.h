// The decoder as the trees define it: one bit at a time, no tables. The fast
// decoder must give exactly the same lines and counts on any input.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "faxdoc/t4.h"

namespace qc::test {

class ReferenceDecoder {
 public:
  std::vector<std::vector<uint8_t>> lines;
  TFaxDecodeStats stats;
  bool pageEnded = false;
  // Line count after each byte fed, to compare timing byte by byte.
  std::vector<uint64_t> linesAfterByte;

  void Feed(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n && !pageEnded; ++i) {
      for (int b = 0; b < 8 && !pageEnded; ++b) bit((data[i] >> b) & 1);
      linesAfterByte.push_back(stats.LinesDelivered);
    }
  }

 private:
  void bit(int v) {
    if (v == 1 && skipOnes_) return;
    if (v == 0 && skipOnes_) {
      skipOnes_ = false;
      ++stats.SkipOnesRecoveries;
    }
    const TFaxDecodeTree& tree = black_ ? BlackDecodeTree() : WhiteDecodeTree();
    node_ = tree.Node(node_).Child[v];
    const int value = tree.Node(node_).Value;
    if (value == TDecodeNode::kInternal) return;
    node_ = TFaxDecodeTree::kRoot;
    if (value == TDecodeNode::kEol) {
      if (pos_ > 0) {
        if (pos_ / 8 == 216 || pos_ / 8 == 256) {
          lines.emplace_back(line_, line_ + pos_ / 8);
          ++stats.LinesDelivered;
        } else {
          ++stats.LinesDropped;
        }
      }
      std::memset(line_, 0, sizeof line_);
      pos_ = 0;
      black_ = false;
      beforeFirstEol_ = false;
      if (++eols_ == 3) pageEnded = true;
    } else if (value == TDecodeNode::kDeadEnd) {
      ++stats.BadCodes;
      skipOnes_ = true;
    } else {
      if (!beforeFirstEol_ && value / 8 + pos_ / 8 < 512) {
        if (black_)
          for (int i = 0; i < value; ++i) line_[(pos_ + i) >> 3] |= static_cast<uint8_t>(0x80 >> ((pos_ + i) & 7));
        pos_ += value;
        if (value < 64) black_ = !black_;
      }
      eols_ = 0;
    }
  }

  int node_ = TFaxDecodeTree::kRoot;
  bool black_ = false;
  bool skipOnes_ = false;
  bool beforeFirstEol_ = true;
  int eols_ = 0;
  int pos_ = 0;
  uint8_t line_[520] = {};
};

}  // namespace qc::test

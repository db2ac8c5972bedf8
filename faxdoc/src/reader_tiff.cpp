// TIFF input: the first image of a TIFF file in either byte order, 1 bit per
// sample, uncompressed or PackBits, read strip by strip and row by row.
// Strip tables are read from the file as they are needed, so a hostile strip
// count costs no memory.
#include <algorithm>
#include <cstring>

#include "input_file.h"
#include "readers.h"

namespace qc {

namespace {

// Tags and values (TIFF 6.0, section 8 baseline fields).
constexpr uint16_t kTagImageWidth = 256;
constexpr uint16_t kTagImageLength = 257;
constexpr uint16_t kTagBitsPerSample = 258;
constexpr uint16_t kTagCompression = 259;
constexpr uint16_t kTagPhotometric = 262;
constexpr uint16_t kTagFillOrder = 266;
constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagSamplesPerPixel = 277;
constexpr uint16_t kTagRowsPerStrip = 278;
constexpr uint16_t kTagStripByteCounts = 279;
constexpr uint16_t kCompressionNone = 1;
constexpr uint16_t kCompressionPackBits = 32773;
constexpr uint16_t kTypeByte = 1, kTypeShort = 3, kTypeLong = 4;

uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

struct Entry {
  bool present = false;
  uint16_t type = 0;
  uint32_t count = 0;
  uint8_t value[4] = {};  // the value itself, or the offset of the values
};

class TiffReader final : public TFaxInputReader {
 public:
  std::string DefaultExtension() const override { return "TIF"; }

  int Open(TFaxConverterContext& ctx, const std::string& fileName) override {
    if (int r = file_.Open(fileName)) return r;
    ctx.bytesTotal = file_.Size();
    uint8_t head[8];
    if (file_.ReadAt(0, head, 8)) return bad();
    if (head[0] == 'I' && head[1] == 'I') {
      bigEndian_ = false;
    } else if (head[0] == 'M' && head[1] == 'M') {
      bigEndian_ = true;
    } else {
      return bad();
    }
    if (u16(head + 2) != 42) return bad();
    const uint32_t ifd = u32(head + 4);
    uint8_t countBytes[2];
    if (file_.ReadAt(ifd, countBytes, 2)) return bad();
    const uint16_t entries = u16(countBytes);
    for (uint32_t i = 0; i < entries; ++i) {
      uint8_t e[12];
      if (file_.ReadAt(uint64_t{ifd} + 2 + 12ull * i, e, 12)) return bad();
      Entry* slot = nullptr;
      switch (u16(e)) {
        case kTagImageWidth: slot = &width_; break;
        case kTagImageLength: slot = &length_; break;
        case kTagBitsPerSample: slot = &bitsPerSample_; break;
        case kTagCompression: slot = &compression_; break;
        case kTagPhotometric: slot = &photometric_; break;
        case kTagFillOrder: slot = &fillOrder_; break;
        case kTagStripOffsets: slot = &stripOffsets_; break;
        case kTagSamplesPerPixel: slot = &samplesPerPixel_; break;
        case kTagRowsPerStrip: slot = &rowsPerStrip_; break;
        case kTagStripByteCounts: slot = &stripByteCounts_; break;
        default: break;
      }
      if (!slot || slot->present) continue;  // the first of a repeated tag counts
      slot->present = true;
      slot->type = u16(e + 2);
      slot->count = u32(e + 4);
      std::memcpy(slot->value, e + 8, 4);
    }
    if (!width_.present || !length_.present || !stripOffsets_.present) return bad();
    uint32_t v = 0;
    if (int r = first(width_, v)) return r;
    imageWidth_ = v;
    if (int r = first(length_, v)) return r;
    imageLength_ = v;
    if (imageWidth_ == 0) return bad();
    if (bitsPerSample_.present && (first(bitsPerSample_, v) || v != 1)) return bad();
    if (samplesPerPixel_.present && (first(samplesPerPixel_, v) || v != 1)) return bad();
    uint32_t compression = kCompressionNone;
    if (compression_.present && first(compression_, compression)) return bad();
    if (compression != kCompressionNone && compression != kCompressionPackBits) return bad();
    packBits_ = compression == kCompressionPackBits;
    uint32_t photometric = 0;
    if (photometric_.present && first(photometric_, photometric)) return bad();
    invert_ = photometric != 0;
    uint32_t fillOrder = 1;
    if (fillOrder_.present && first(fillOrder_, fillOrder)) return bad();
    reverse_ = fillOrder == 2;
    rowsPerStripValue_ = imageLength_;
    if (rowsPerStrip_.present && first(rowsPerStrip_, rowsPerStripValue_)) return bad();
    if (rowsPerStripValue_ == 0) return bad();
    if (rowsPerStripValue_ > imageLength_) rowsPerStripValue_ = imageLength_;
    const uint64_t strips =
        imageLength_ == 0 ? 0 : (uint64_t{imageLength_} + rowsPerStripValue_ - 1) / rowsPerStripValue_;
    if (stripOffsets_.count < strips) return bad();
    useByteCounts_ = stripByteCounts_.present && stripByteCounts_.count >= strips;
    rowBytes_ = (uint64_t{imageWidth_} + 7) / 8;
    row_ = 0;
    PlaceImage(ctx, imageWidth_);
    return ecOK;
  }

  int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
              bool& morePages) override {
    morePages = false;
    bytes = 0;
    endOfPage = row_ >= imageLength_;
    if (endOfPage) return ecOK;
    if (row_ % rowsPerStripValue_ == 0) {
      if (int r = startStrip(row_ / rowsPerStripValue_)) return r;
    }
    const size_t keep = static_cast<size_t>(std::min<uint64_t>(rowBytes_, ctx.RasterBytes()));
    const uint64_t before = file_.Position();
    if (int r = packBits_ ? unpack(rowBuf_, keep) : copy(rowBuf_, keep)) return r;
    if (int r = packBits_ ? unpack(nullptr, rowBytes_ - keep) : copy(nullptr, rowBytes_ - keep)) return r;
    ctx.bytesRead += static_cast<long long>(file_.Position() - before);
    for (size_t i = 0; i < keep; ++i) {
      uint8_t b = rowBuf_[i];
      if (reverse_) b = ReverseBits(b);
      if (invert_) b = static_cast<uint8_t>(~b);
      rowBuf_[i] = b;
    }
    PutImageRow(ctx, rowBuf_, keep, imageWidth_, raster);
    bytes = ctx.RasterBytes();
    ++row_;
    return ecOK;
  }

  void Close(TFaxConverterContext&) override { file_.Close(); }

 private:
  int bad() const { return file_.Error() ? file_.Error() : ecBadGraphicsFormat; }

  uint16_t u16(const uint8_t* p) const {
    return bigEndian_ ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
  }
  uint32_t u32(const uint8_t* p) const {
    return bigEndian_ ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                      : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }

  // Value `index` of an entry of type BYTE, SHORT or LONG.
  int value(const Entry& e, uint32_t index, uint32_t& out) {
    const unsigned size = e.type == kTypeByte ? 1 : e.type == kTypeShort ? 2 : e.type == kTypeLong ? 4 : 0;
    if (size == 0 || index >= e.count) return bad();
    uint8_t buf[4];
    const uint8_t* p;
    if (uint64_t{e.count} * size <= 4) {
      p = e.value + index * size;
    } else {
      if (file_.ReadAt(uint64_t{u32(e.value)} + uint64_t{index} * size, buf, size)) return bad();
      p = buf;
    }
    out = size == 1 ? p[0] : size == 2 ? u16(p) : u32(p);
    return ecOK;
  }
  int first(const Entry& e, uint32_t& out) { return value(e, 0, out); }

  int startStrip(uint32_t strip) {
    uint32_t offset = 0;
    if (int r = value(stripOffsets_, strip, offset)) return r;
    const uint64_t size = static_cast<uint64_t>(file_.Size());
    if (offset >= size) return bad();
    stripEnd_ = size;
    if (useByteCounts_) {
      uint32_t count = 0;
      if (int r = value(stripByteCounts_, strip, count)) return r;
      stripEnd_ = std::min<uint64_t>(size, uint64_t{offset} + count);
    }
    file_.Seek(offset);
    literal_ = run_ = 0;
    return ecOK;
  }

  // Uncompressed: n bytes of the strip into dst (skipped when dst is null).
  int copy(uint8_t* dst, uint64_t n) {
    if (n > stripEnd_ - file_.Position()) return bad();
    if (dst) {
      if (file_.Read(dst, static_cast<size_t>(n)) != static_cast<long>(n)) return bad();
    } else {
      file_.Seek(file_.Position() + n);
    }
    return ecOK;
  }

  // PackBits (TIFF 6.0, section 9): n decoded bytes into dst (skipped when dst
  // is null). Runs may continue into the next row.
  int unpack(uint8_t* dst, uint64_t n) {
    while (n > 0) {
      if (run_ > 0) {
        const uint64_t take = std::min<uint64_t>(run_, n);
        if (dst) {
          std::memset(dst, runByte_, static_cast<size_t>(take));
          dst += take;
        }
        run_ -= static_cast<unsigned>(take);
        n -= take;
      } else if (literal_ > 0) {
        const uint64_t take = std::min<uint64_t>(literal_, n);
        if (int r = copy(dst, take)) return r;
        if (dst) dst += take;
        literal_ -= static_cast<unsigned>(take);
        n -= take;
      } else {
        if (file_.Position() >= stripEnd_) return bad();
        const int h = file_.NextByte();
        if (h < 0) return bad();
        if (h < 128) {
          literal_ = static_cast<unsigned>(h) + 1;
        } else if (h > 128) {
          if (file_.Position() >= stripEnd_) return bad();
          const int b = file_.NextByte();
          if (b < 0) return bad();
          runByte_ = static_cast<uint8_t>(b);
          run_ = 257u - static_cast<unsigned>(h);
        }
      }
    }
    return ecOK;
  }

  TInputFile file_;
  bool bigEndian_ = false;
  Entry width_, length_, bitsPerSample_, compression_, photometric_, fillOrder_, stripOffsets_,
      samplesPerPixel_, rowsPerStrip_, stripByteCounts_;
  uint32_t imageWidth_ = 0;
  uint32_t imageLength_ = 0;
  uint32_t rowsPerStripValue_ = 0;
  bool packBits_ = false;
  bool invert_ = false;
  bool reverse_ = false;
  bool useByteCounts_ = false;
  uint64_t rowBytes_ = 0;
  uint32_t row_ = 0;
  uint64_t stripEnd_ = 0;
  unsigned literal_ = 0;
  unsigned run_ = 0;
  uint8_t runByte_ = 0;
  uint8_t rowBuf_[kMaxRasterBytes];
};

}  // namespace

std::unique_ptr<TFaxInputReader> MakeTiffReader() {
  return std::make_unique<TiffReader>();
}

}  // namespace qc

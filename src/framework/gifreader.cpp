// GIF decoding into palette-index grids and the conversion of indices to values.
#include "framework/gifreader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace velmo {
namespace {

constexpr std::size_t kSignatureBytes = 6;
constexpr std::size_t kScreenDescriptorBytes = 7;
constexpr std::size_t kHeaderBytes = kSignatureBytes + kScreenDescriptorBytes;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kPlainTextLabel = 0x01;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;
constexpr std::uint8_t kCommentLabel = 0xFE;
constexpr std::uint8_t kApplicationLabel = 0xFF;
// Packed-field bits: a colour table follows, the image is interlaced, and
// the table's size exponent.
constexpr std::uint8_t kColourTableFlag = 0x80;
constexpr std::uint8_t kInterlaceFlag = 0x40;
constexpr std::uint8_t kColourTableSizeBits = 0x07;
// LZW codes are at most 12 bits wide, so the table holds 4096 entries.
constexpr int kMaxCodeWidth = 12;
constexpr int kMaxCodes = 1 << kMaxCodeWidth;
constexpr int kMinLzwCodeSize = 2;
constexpr int kMaxLzwCodeSize = 8;
constexpr double kNodata = -9999.0;

std::string HexByte(std::uint8_t byte) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%X", byte);
  return text.data();
}

std::string InvalidType(std::uint8_t byte) {
  return "invalid extension type ID \"0x" + HexByte(byte) + "\" found";
}

// Bytes of the file, read front to back; running out names what was read.
class ByteStream {
 public:
  explicit ByteStream(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  std::uint8_t Byte(const char* what) {
    if (AtEnd()) throw EndInside(what);
    return bytes_[pos_++];
  }
  int Word(const char* what) {
    const int low = Byte(what);
    return low | (Byte(what) << 8);
  }
  std::span<const std::uint8_t> Take(std::size_t count, const char* what) {
    if (bytes_.size() - pos_ < count) throw EndInside(what);
    const std::span<const std::uint8_t> taken = bytes_.subspan(pos_, count);
    pos_ += count;
    return taken;
  }
  // Data sub-blocks up to their terminator of size 0, appended to `data`
  // when given.
  void SubBlocks(const char* what, std::vector<std::uint8_t>* data) {
    for (std::size_t size = Byte(what); size != 0; size = Byte(what)) {
      const std::span<const std::uint8_t> block = Take(size, what);
      if (data) data->insert(data->end(), block.begin(), block.end());
    }
  }
  void SkipColourTable(std::uint8_t packed, const char* what) {
    if (packed & kColourTableFlag) Take(3u << ((packed & kColourTableSizeBits) + 1), what);
  }

 private:
  static std::string EndInside(const char* what) { return std::string("file ends inside ") + what; }
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// The LZW string table of one image: the string of a code is the string of
// its prefix followed by its suffix.
class LzwDecoder {
 public:
  LzwDecoder(int min_code_size, std::uint8_t* out, std::size_t out_size)
      : min_code_size_(min_code_size), clear_(1 << min_code_size), out_(out), out_size_(out_size) {
    for (int code = 0; code < clear_; ++code) {
      suffix_[code] = first_[code] = static_cast<std::uint8_t>(code);
      length_[code] = 1;
    }
    Reset();
  }

  // Decodes the code stream; returns the number of pixels it delivered
  // (pixels beyond the output are dropped).
  std::size_t Run(std::span<const std::uint8_t> data) {
    const int end = clear_ + 1;
    std::uint64_t bits = 0;
    int bit_count = 0;
    std::size_t next_byte = 0;
    for (;;) {
      while (bit_count < width_ && next_byte < data.size()) {
        bits |= static_cast<std::uint64_t>(data[next_byte++]) << bit_count;
        bit_count += 8;
      }
      if (bit_count < width_) break;  // the data end without an end code
      const int code = static_cast<int>(bits & ((1u << width_) - 1));
      bits >>= width_;
      bit_count -= width_;

      if (code == clear_) {
        Reset();
      } else if (code == end) {
        break;
      } else if (previous_ < 0) {
        if (code > end) throw BeyondTable(code);
        Emit(code);
        previous_ = code;
      } else if (code < next_) {
        Emit(code);
        Add(previous_, first_[code]);
        previous_ = code;
      } else if (code == next_ && next_ < kMaxCodes) {
        Add(previous_, first_[previous_]);
        Emit(code);
        previous_ = code;
      } else {
        throw BeyondTable(code);
      }
    }
    return delivered_;
  }

 private:
  void Reset() {
    next_ = clear_ + 2;
    width_ = min_code_size_ + 1;
    previous_ = -1;
  }
  std::string BeyondTable(int code) const {
    return "LZW code " + std::to_string(code) + " beyond the next table entry " + std::to_string(next_);
  }
  void Add(int prefix, std::uint8_t suffix) {
    if (next_ >= kMaxCodes) return;  // a full table takes no more entries
    prefix_[next_] = static_cast<std::uint16_t>(prefix);
    suffix_[next_] = suffix;
    first_[next_] = first_[prefix];
    length_[next_] = static_cast<std::uint16_t>(length_[prefix] + 1);
    ++next_;
    if (next_ == (1 << width_) && width_ < kMaxCodeWidth) ++width_;
  }
  // Writes the string of `code` at the next output position, last
  // character first.
  void Emit(int code) {
    const std::size_t length = length_[code];
    std::size_t at = delivered_ + length;
    delivered_ = at;
    if (at <= out_size_) {
      for (std::size_t i = 0; i < length; ++i) {
        out_[--at] = suffix_[code];
        code = prefix_[code];
      }
    } else {
      for (std::size_t i = 0; i < length; ++i) {
        if (--at < out_size_) out_[at] = suffix_[code];
        code = prefix_[code];
      }
    }
  }

  int min_code_size_;
  int clear_;
  std::uint8_t* out_;
  std::size_t out_size_;
  std::size_t delivered_ = 0;
  int next_ = 0;
  int width_ = 0;
  int previous_ = -1;
  std::array<std::uint16_t, kMaxCodes> prefix_{};
  std::array<std::uint8_t, kMaxCodes> suffix_{};
  std::array<std::uint8_t, kMaxCodes> first_{};
  std::array<std::uint16_t, kMaxCodes> length_{};
};

// Frame rows in the order an image stores them: all rows, or the four
// passes of an interlaced image (every 8th from 0, every 8th from 4, every
// 4th from 2, every 2nd from 1).
std::vector<int> StoredRowOrder(int height, bool interlaced) {
  std::vector<int> rows;
  rows.reserve(static_cast<std::size_t>(height));
  if (!interlaced) {
    for (int r = 0; r < height; ++r) rows.push_back(r);
    return rows;
  }
  constexpr std::array<std::pair<int, int>, 4> kPasses = {{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};
  for (const auto& [start, step] : kPasses)
    for (int r = start; r < height; r += step) rows.push_back(r);
  return rows;
}

void DecodeImage(ByteStream& in, gif_indices& screen) {
  const int left = in.Word("an image descriptor");
  const int top = in.Word("an image descriptor");
  const int width = in.Word("an image descriptor");
  const int height = in.Word("an image descriptor");
  const std::uint8_t packed = in.Byte("an image descriptor");
  in.SkipColourTable(packed, "a local colour table");
  const int min_code_size = in.Byte("an image");
  if (min_code_size < kMinLzwCodeSize || min_code_size > kMaxLzwCodeSize)
    throw "LZW minimum code size " + std::to_string(min_code_size) + " outside " +
        std::to_string(kMinLzwCodeSize) + " to " + std::to_string(kMaxLzwCodeSize);
  const long long pixels = static_cast<long long>(width) * height;
  if (pixels > kMaxGifCells)
    throw "image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels, more than " +
        std::to_string(kMaxGifCells);
  std::vector<std::uint8_t> data;
  in.SubBlocks("the image data", &data);

  std::vector<std::uint8_t> frame(static_cast<std::size_t>(pixels));
  LzwDecoder decoder(min_code_size, frame.data(), frame.size());
  const std::size_t delivered = decoder.Run(data);
  if (delivered < frame.size())
    throw "image data end after " + std::to_string(delivered) + " of " + std::to_string(pixels) + " pixels";

  // The frame at its place on the screen; what lies outside is dropped.
  const std::vector<int> rows = StoredRowOrder(height, (packed & kInterlaceFlag) != 0);
  const int columns = std::min(width, std::max(screen.width - left, 0));
  for (int j = 0; j < height && columns > 0; ++j) {
    const int row = top + rows[static_cast<std::size_t>(j)];
    if (row >= screen.height) continue;
    std::memcpy(screen.cells.data() + static_cast<std::size_t>(row) * screen.width + left,
                frame.data() + static_cast<std::size_t>(j) * width, static_cast<std::size_t>(columns));
  }
}

}  // namespace

double PaletteIndexValue(double index, const gif_conversion& conversion) {
  if (index <= kNodata) return index;
  if (index == 0.0) return 0.0;
  if (index <= conversion.threshold) return conversion.factor1 * std::exp(conversion.exponent1 * index);
  if (index <= kGifLastValueIndex) return conversion.factor2 * std::exp(conversion.exponent2 * index);
  return kNodata;
}

void ReadGifScreenSize(std::span<const std::uint8_t> bytes, int& width, int& height) {
  ByteStream in(bytes);
  in.Take(kSignatureBytes, "the header");
  width = in.Word("the logical screen descriptor");
  height = in.Word("the logical screen descriptor");
  if (width == 0 || height == 0 || static_cast<long long>(width) * height > kMaxGifCells)
    throw "logical screen of " + std::to_string(width) + " x " + std::to_string(height) +
        " pixels: a grid needs 1 to " + std::to_string(kMaxGifCells) + " cells";
}

gif_indices DecodeGif(std::span<const std::uint8_t> bytes) {
  gif_indices screen;
  ReadGifScreenSize(bytes, screen.width, screen.height);
  screen.cells.assign(static_cast<std::size_t>(screen.width) * static_cast<std::size_t>(screen.height), 0);
  ByteStream in(bytes);
  in.Take(kSignatureBytes + 4, "the header");
  const std::uint8_t packed = in.Byte("the logical screen descriptor");
  in.Take(2, "the logical screen descriptor");
  in.SkipColourTable(packed, "the global colour table");

  for (;;) {
    if (in.AtEnd()) throw std::string("file ends before its trailer 0x3B");
    const std::uint8_t introducer = in.Byte("a block");
    if (introducer == kTrailer) return screen;
    if (introducer == kImageSeparator) {
      DecodeImage(in, screen);
      continue;
    }
    if (introducer != kExtensionIntroducer) throw InvalidType(introducer);
    const std::uint8_t label = in.Byte("an extension");
    switch (label) {
      case kPlainTextLabel:
        in.Take(in.Byte("a plain text extension"), "a plain text extension");
        in.SubBlocks("a plain text extension", nullptr);
        break;
      case kGraphicControlLabel: {
        const std::uint8_t size = in.Byte("a graphic control extension");
        in.Take(size, "a graphic control extension");
        if (in.Byte("a graphic control extension") != 0)
          throw "Graphics COntrol extension found, but block end not found as 0x00 after " +
              std::to_string(size) + " bytes\n";
        break;
      }
      case kCommentLabel:
      case kApplicationLabel:
        in.SubBlocks("an extension", nullptr);
        break;
      default:
        throw InvalidType(label);
    }
  }
}

std::vector<std::uint8_t> GifReader::ReadFileBytes(std::size_t limit) const {
  std::FILE* file = std::fopen(file_name_.c_str(), "rb");
  if (!file) throw "cannot open " + file_name_;
  std::vector<std::uint8_t> bytes;
  std::array<std::uint8_t, 1 << 16> block{};
  for (std::size_t got; bytes.size() < limit && (got = std::fread(block.data(), 1, block.size(), file)) > 0;)
    bytes.insert(bytes.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got));
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) throw "cannot read " + file_name_;
  return bytes;
}

void GifReader::ReadSize(int& width, int& height) {
  ReadGifScreenSize(ReadFileBytes(kHeaderBytes), width, height);
  screen_width_ = width;
  screen_height_ = height;
}

void GifReader::Decode(double** grid) {
  const gif_indices screen = DecodeGif(ReadFileBytes(static_cast<std::size_t>(-1)));
  if (screen.width != screen_width_ || screen.height != screen_height_)
    throw std::string("the logical screen changed since its size was read");
  const std::uint8_t* cells = screen.cells.data();
  for (int r = 1; r <= screen.height; ++r) {
    double* row = grid[r];
    for (int c = 1; c <= screen.width; ++c, ++cells)
      row[c] = *cells == kGifMissingIndex ? kNodata : static_cast<double>(*cells);
  }
}

void GifReader::ConvertPaletteIndices(double** grid, int ncols, int nrows, double factor1, double exponent1,
                                      int threshold, double factor2, double exponent2) {
  const gif_conversion conversion{factor1, exponent1, threshold, factor2, exponent2};
  // Whole indices, the common case, come from a table of the same values.
  std::array<double, kGifMissingIndex + 1> table{};
  for (int i = 0; i <= kGifMissingIndex; ++i)
    table[static_cast<std::size_t>(i)] = PaletteIndexValue(i, conversion);
  for (int r = 1; r <= nrows; ++r) {
    double* row = grid[r];
    for (int c = 1; c <= ncols; ++c) {
      const double e = row[c];
      if (e >= 0.0 && e <= kGifMissingIndex) {
        const int whole = static_cast<int>(e);
        if (e == whole) {
          row[c] = table[static_cast<std::size_t>(whole)];
          continue;
        }
      }
      row[c] = PaletteIndexValue(e, conversion);
    }
  }
}

}  // namespace velmo

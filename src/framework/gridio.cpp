// Grid and stack file formats: detection, value coding, number parsing,
// resampling and hole filling.
#include "framework/gridio.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"

namespace velmo {
namespace {

constexpr size_t kSingleHeaderBytes = kBinaryHeaderValues * sizeof(float);
// Byte offsets of the nodata value (the sixth header value).
constexpr size_t kDoubleNodataOffset = 5 * sizeof(double);
constexpr size_t kSingleNodataOffset = 5 * sizeof(float);

bool StartsWithIgnoringCase(std::span<const unsigned char> head, std::string_view word) {
  if (head.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    unsigned char c = head[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

bool Matches(std::span<const unsigned char> head, size_t offset, std::string_view text) {
  return head.size() >= offset + text.size() &&
         std::memcmp(head.data() + offset, text.data(), text.size()) == 0;
}

bool IsNetcdf(std::span<const unsigned char> head) {
  if (head.size() < 3 || head[0] == 0 || head[1] == 0 || head[2] == 0) return false;
  return Matches(head, 0, "CDF") || Matches(head, 1, "HDF");
}

bool SixthDoubleIsNodata(std::span<const unsigned char> head) {
  return head.size() >= kDoubleHeaderBytes &&
         LoadLittleEndian<double>(head.data() + kDoubleNodataOffset) == kBinaryNodata;
}

bool SixthFloatIsNodata(std::span<const unsigned char> head, size_t needed) {
  return head.size() >= needed &&
         LoadLittleEndian<float>(head.data() + kSingleNodataOffset) == static_cast<float>(kBinaryNodata);
}

}  // namespace

GridFileFormat DetectGridFormat(std::span<const unsigned char> head) {
  if (IsNetcdf(head)) return GridFileFormat::kNetcdf;
  if (StartsWithIgnoringCase(head, "ncol")) return GridFileFormat::kAscii;
  if (SixthDoubleIsNodata(head)) return GridFileFormat::kBinaryDouble;
  if (SixthFloatIsNodata(head, kSingleNodataOffset + sizeof(float))) return GridFileFormat::kBinarySingle;
  if (Matches(head, 0, "GIF8")) return GridFileFormat::kGif;
  return GridFileFormat::kUnknown;
}

StackFileFormat DetectStackFormat(std::span<const unsigned char> head) {
  if (IsNetcdf(head)) return StackFileFormat::kNetcdf;
  if (StartsWithIgnoringCase(head, "stack")) return StackFileFormat::kAscii;
  if (head.size() < kDoubleHeaderBytes) return StackFileFormat::kShort;
  if (SixthDoubleIsNodata(head)) return StackFileFormat::kBinaryDouble;
  if (SixthFloatIsNodata(head, kSingleHeaderBytes)) return StackFileFormat::kBinarySingle;
  return StackFileFormat::kUnknown;
}

template <typename T>
bool ReadLittleEndianValues(std::FILE* file, double* target, size_t count,
                            std::vector<unsigned char>& scratch) {
  if constexpr (std::is_same_v<T, double> && std::endian::native == std::endian::little) {
    return std::fread(target, sizeof(double), count, file) == count;
  } else {
    scratch.resize(count * sizeof(T));
    if (std::fread(scratch.data(), sizeof(T), count, file) != count) return false;
    const unsigned char* bytes = scratch.data();
    for (size_t i = 0; i < count; ++i)
      target[i] = static_cast<double>(LoadLittleEndian<T>(bytes + i * sizeof(T)));
    return true;
  }
}

template <typename T>
bool WriteLittleEndianValues(std::FILE* file, const double* values, size_t count,
                             std::vector<unsigned char>& scratch) {
  if constexpr (std::is_same_v<T, double> && std::endian::native == std::endian::little) {
    return std::fwrite(values, sizeof(double), count, file) == count;
  } else {
    scratch.resize(count * sizeof(T));
    unsigned char* bytes = scratch.data();
    for (size_t i = 0; i < count; ++i) StoreLittleEndian<T>(static_cast<T>(values[i]), bytes + i * sizeof(T));
    return std::fwrite(scratch.data(), sizeof(T), count, file) == count;
  }
}

template bool ReadLittleEndianValues<double>(std::FILE*, double*, size_t, std::vector<unsigned char>&);
template bool ReadLittleEndianValues<float>(std::FILE*, double*, size_t, std::vector<unsigned char>&);
template bool WriteLittleEndianValues<double>(std::FILE*, const double*, size_t, std::vector<unsigned char>&);
template bool WriteLittleEndianValues<float>(std::FILE*, const double*, size_t, std::vector<unsigned char>&);

namespace {

// Most digits whose value a double holds exactly.
constexpr int kExactDigits = 15;

// Grid files are mostly plain decimals ("-9999", "512.25"). With at most 15
// digits both the digits and the power of ten are exact doubles, so one
// correctly rounded division gives the very value from_chars gives, much
// faster. Returns nullptr for anything else (exponents, long numbers, words),
// which from_chars then reads.
const char* ParsePlainDecimal(const char* p, const char* last, double& value) {
  const bool negative = p != last && *p == '-';
  if (negative) ++p;
  unsigned long long digits_value = 0;
  int digits = 0;
  int fraction_digits = 0;
  for (; p != last && *p >= '0' && *p <= '9'; ++p, ++digits) digits_value = digits_value * 10 + (*p - '0');
  if (p != last && *p == '.') {
    for (++p; p != last && *p >= '0' && *p <= '9'; ++p, ++digits, ++fraction_digits)
      digits_value = digits_value * 10 + (*p - '0');
  }
  if (digits == 0 || digits > kExactDigits || (p != last && (*p == 'e' || *p == 'E'))) return nullptr;
  const double magnitude =
      static_cast<double>(digits_value) / general_format::kExactPowersOfTen[fraction_digits];
  value = negative ? -magnitude : magnitude;
  return p;
}

// Parses a finite number at the start of [first, last) ("+" allowed in
// front); returns where it ends, or nullptr.
const char* ParseNumberPrefix(const char* first, const char* last, double& value) {
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return nullptr;
  }
  if (const char* stop = ParsePlainDecimal(first, last, value)) return stop;
  const auto [stop, error] = std::from_chars(first, last, value, std::chars_format::general);
  if (error != std::errc() || !std::isfinite(value)) return nullptr;
  return stop;
}

}  // namespace

bool ParseGridNumber(std::string_view token, double& value) {
  const char* end = token.data() + token.size();
  return ParseNumberPrefix(token.data(), end, value) == end;
}

char* FormatGeneralExactly(char* out, char* end, double value) {
  return std::to_chars(out, end, value, std::chars_format::general, general_format::kPrecision).ptr;
}

bool PlausibleDimension(double value) {
  return std::isfinite(value) && value >= 1.0 && value <= kMaxGridDimension;
}

bool PlausibleCellsize(double value) { return std::isfinite(value) && value > 0.0; }

int ReadHeaderPairs(TokenScanner& scanner, std::span<double> values) {
  for (size_t i = 0; i < values.size(); ++i) {
    std::string_view word, number;
    if (!scanner.Next(word) || !scanner.Next(number) || !ParseGridNumber(number, values[i]))
      return static_cast<int>(i) + 1;
  }
  return 0;
}

TokenScanner::TokenScanner(std::FILE* file, size_t block_bytes) : file_(file), buffer_(block_bytes) {}

bool TokenScanner::Refill() {
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  const size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
  if (got == 0) {
    at_eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool TokenScanner::Next(std::string_view& token) {
  for (;;) {
    while (pos_ < end_ && IsSpace(buffer_[pos_])) ++pos_;
    if (pos_ == end_) {
      if (at_eof_ || !Refill()) return false;
      continue;
    }
    size_t stop = pos_;
    while (stop < end_ && !IsSpace(buffer_[stop])) ++stop;
    // A token that touches the end of the block may go on in the next one;
    // one that fills the whole buffer is taken as it is (and is no number).
    const bool whole_buffer = pos_ == 0 && end_ == buffer_.size();
    if (stop == end_ && !at_eof_ && !whole_buffer && Refill()) continue;
    token = std::string_view(buffer_.data() + pos_, stop - pos_);
    pos_ = stop;
    return true;
  }
}

bool TokenScanner::NextNumber(double& value, bool& is_number) {
  for (;;) {
    while (pos_ < end_ && IsSpace(buffer_[pos_])) ++pos_;
    if (end_ - pos_ >= kLookahead || at_eof_) break;
    Refill();
  }
  if (pos_ == end_) return false;
  const char* first = buffer_.data() + pos_;
  const char* last = buffer_.data() + end_;
  const char* stop = ParseNumberPrefix(first, last, value);
  // A number must end at a blank, or at the end of the file.
  is_number = stop && (stop == last ? at_eof_ : IsSpace(*stop));
  if (!is_number) {
    stop = first;
    while (stop < last && !IsSpace(*stop)) ++stop;
  }
  pos_ = static_cast<size_t>(stop - buffer_.data());
  return true;
}

void ResampleBilinear(double** source, int /*source_col_lo*/, int source_ncols, int /*source_row_lo*/,
                      int source_nrows, double source_xllcorner, double source_yllcorner,
                      double source_cellsize, double** target, int /*target_col_lo*/, int target_ncols,
                      int /*target_row_lo*/, int target_nrows, double target_xllcorner,
                      double target_yllcorner, double target_cellsize, double** mask) {
  const double half_cell = source_cellsize / 2.0;
  auto centre_x = [&](int col) { return source_xllcorner + (col - 0.5) * source_cellsize; };
  auto centre_y = [&](int row) { return source_yllcorner + (source_nrows - row + 0.5) * source_cellsize; };

  // The columns and weights depend on the target column only.
  std::vector<int> left(static_cast<size_t>(target_ncols) + 1), right(left.size());
  std::vector<double> east_weight(left.size());
  for (int c = 1; c <= target_ncols; ++c) {
    const double x = target_xllcorner + (c - 1) * target_cellsize;
    const double fx = std::floor((x - source_xllcorner - half_cell) / source_cellsize);
    const int l = static_cast<int>(std::clamp(fx + 1.0, 1.0, static_cast<double>(source_ncols)));
    left[c] = l;
    right[c] = static_cast<int>(std::clamp(fx + 2.0, 1.0, static_cast<double>(source_ncols)));
    east_weight[c] = (x - centre_x(l)) / source_cellsize;
  }

  for (int r = 1; r <= target_nrows; ++r) {
    const double y = target_yllcorner + (target_nrows - r) * target_cellsize;
    const double fy = std::floor((y - source_yllcorner - half_cell) / source_cellsize);
    const int lower = static_cast<int>(std::clamp(source_nrows - fy, 1.0, static_cast<double>(source_nrows)));
    const int upper =
        static_cast<int>(std::clamp(source_nrows - fy - 1.0, 1.0, static_cast<double>(source_nrows)));
    const double f = (y - centre_y(lower)) / source_cellsize;
    const double* lower_row = source[lower];
    const double* upper_row = source[upper];
    const double* mask_row = mask ? mask[r] : nullptr;
    double* out = target[r];
    for (int c = 1; c <= target_ncols; ++c) {
      if (mask_row && mask_row[c] <= kResampleMissing) {
        out[c] = mask_row[c];
        continue;
      }
      const double lower_left = lower_row[left[c]];
      const double lower_right = lower_row[right[c]];
      const double upper_left = upper_row[left[c]];
      const double upper_right = upper_row[right[c]];
      if (lower_left <= kResampleMissing || lower_right <= kResampleMissing ||
          upper_left <= kResampleMissing || upper_right <= kResampleMissing) {
        out[c] = kResampleMissing;
        continue;
      }
      const double e = east_weight[c];
      out[c] = (1.0 - e) * (1.0 - f) * lower_left + e * (1.0 - f) * lower_right + (1.0 - e) * f * upper_left +
               e * f * upper_right;
    }
  }
}

void ResampleHoldingCell(double** source, int source_ncols, int source_nrows, double source_xllcorner,
                         double source_yllcorner, double source_cellsize, double** target, int target_ncols,
                         int target_nrows, double target_xllcorner, double target_yllcorner,
                         double target_cellsize, double** mask) {
  // Points computed onto a cell boundary may land a rounding error short of
  // it; they still belong to the cell beyond.
  constexpr double kBoundarySlack = 1e-9;  // cells
  // Source column (or row counted from the south, from 1) of a coordinate.
  auto holding = [&](double offset, int count) {
    const double index = std::floor(offset / source_cellsize + kBoundarySlack) + 1.0;
    return static_cast<int>(std::clamp(index, 1.0, static_cast<double>(count)));
  };
  std::vector<int> column(static_cast<size_t>(target_ncols) + 1);
  for (int c = 1; c <= target_ncols; ++c)
    column[c] = holding(target_xllcorner + (c - 1) * target_cellsize - source_xllcorner, source_ncols);

  for (int r = 1; r <= target_nrows; ++r) {
    const double y = target_yllcorner + (target_nrows - r) * target_cellsize;
    const double* source_row = source[source_nrows + 1 - holding(y - source_yllcorner, source_nrows)];
    const double* mask_row = mask ? mask[r] : nullptr;
    double* out = target[r];
    for (int c = 1; c <= target_ncols; ++c) {
      if (mask_row && mask_row[c] <= kResampleMissing) {
        out[c] = mask_row[c];
        continue;
      }
      const double code = source_row[column[c]];
      out[c] = code <= kResampleMissing ? kResampleMissing : code;
    }
  }
}

namespace {

// First valid cell around the hole at (row, col): ring k covers rows
// row-k..row+k, row row-k+j in columns col-j..col+j.
bool FindFillValue(double** grid, int nrows, int ncols, double nodata, int row, int col, double& value) {
  for (int k = 1; k <= kHoleSearchRadius; ++k) {
    for (int j = 0; j <= 2 * k; ++j) {
      const int r = row - k + j;
      if (r < 1 || r > nrows) continue;
      const double* cells = grid[r];
      for (int c = std::max(1, col - j); c <= std::min(ncols, col + j); ++c) {
        if (cells[c] != nodata) {
          value = cells[c];
          return true;
        }
      }
    }
  }
  return false;
}

}  // namespace

hole_fill_result FillHoles(double** grid, double** zone_grid, int nrows, int ncols, double nodata,
                           int fill_mode, double default_value, bool report_fills) {
  hole_fill_result result;
  if (fill_mode != 1 && fill_mode != 2) return result;
  const size_t stride = static_cast<size_t>(ncols) + 1;
  std::vector<double> work(static_cast<size_t>(nrows) * stride);
  for (int r = 1; r <= nrows; ++r) {
    const double* cells = grid[r];
    const double* zones = zone_grid[r];
    double* out = work.data() + static_cast<size_t>(r - 1) * stride;
    for (int c = 1; c <= ncols; ++c) {
      const double value = cells[c];
      const bool in_zone = zones[c] != nodata;
      out[c] = value;
      if (value != nodata && !in_zone) {
        out[c] = nodata;
      } else if (value == nodata && in_zone) {
        ++result.hole_count;
        if (fill_mode == 2 || !report_fills) {
          out[c] = default_value;
        } else {
          double found = 0.0;
          if (!FindFillValue(grid, nrows, ncols, nodata, r, c, found)) {
            result.too_big = true;
            result.too_big_row = r;
            result.too_big_col = c;
            return result;
          }
          out[c] = found;
          result.fills.push_back({r, c, value, found});
        }
      }
    }
  }
  if (result.hole_count > 0) {
    for (int r = 1; r <= nrows; ++r)
      std::copy_n(work.data() + static_cast<size_t>(r - 1) * stride + 1, ncols, grid[r] + 1);
  }
  return result;
}

long long FileSize(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

std::string LastCharacters(const std::string& text, size_t count) {
  return text.size() <= count ? text : text.substr(text.size() - count);
}

}  // namespace velmo

// Grids from GIF images whose palette indices encode a quantity (radar
// rain images): the indices are decoded onto the image's logical screen
// (255 meaning nodata), resampled by the grid reader, and then turned into
// values by a two-segment exponential law.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velmo {

// A logical screen of more cells than this is refused before anything of
// its size is allocated.
inline constexpr long long kMaxGifCells = 100000000LL;
// Palette index of a missing pixel.
inline constexpr int kGifMissingIndex = 255;
// Indices above this carry no value.
inline constexpr double kGifLastValueIndex = 250.0;

// The conversion of palette indices into values: factor * exp(exponent *
// index), with the first pair up to the threshold index and the second above.
struct gif_conversion {
  double factor1 = 0.00008916787;
  double exponent1 = 0.0767528404;
  int threshold = 127;
  double factor2 = 0.00008916787;
  double exponent2 = 0.0767528404;
};

// The value of one (possibly resampled, so fractional) palette index:
// nodata (at or below -9999) stays, 0 stays 0, indices above 250 become
// -9999.
double PaletteIndexValue(double index, const gif_conversion& conversion);

// The palette indices of a GIF file, row by row from the top-left pixel of
// its logical screen.
struct gif_indices {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> cells;  // width * height
};

// The logical screen size of a GIF held in `bytes`. Throws a text (a
// std::string) when the header is incomplete or the size is no grid's: a
// width or height of 0, or more than kMaxGifCells cells.
void ReadGifScreenSize(std::span<const std::uint8_t> bytes, int& width, int& height);

// Decodes every image of the GIF in `bytes` onto its logical screen: each
// image at its place (left, top) in the order its rows are stored
// (interlaced images are put back in order), a later image over an earlier
// one; pixels no image covers stay 0. Throws a text naming the first fault:
// a block type or extension that does not exist, a graphic control block
// without its end, an LZW minimum code size outside 2..8, a code beyond the
// next table entry, image data ending before the last pixel, or a file
// ending before its trailer.
gif_indices DecodeGif(std::span<const std::uint8_t> bytes);

class GifReader {
 public:
  explicit GifReader(std::string file_name) : file_name_(std::move(file_name)) {}

  // The logical screen size; throws a text as ReadGifScreenSize, or when the
  // file cannot be read.
  void ReadSize(int& width, int& height);
  // Fills rows 1..height and columns 1..width of `grid` (the size ReadSize
  // gave) with the palette index of each pixel, 255 as -9999. Throws a text
  // naming the fault of a malformed file.
  void Decode(double** grid);
  // Turns the indices in rows 1..nrows, columns 1..ncols of `grid` into
  // values in place (PaletteIndexValue).
  static void ConvertPaletteIndices(double** grid, int ncols, int nrows, double factor1, double exponent1,
                                    int threshold, double factor2, double exponent2);

 private:
  std::vector<std::uint8_t> ReadFileBytes(std::size_t limit) const;
  std::string file_name_;
  int screen_width_ = 0;
  int screen_height_ = 0;
};

}  // namespace velmo

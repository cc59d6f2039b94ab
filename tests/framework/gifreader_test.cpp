// GIF decoding, index conversion and GIF grids read onto the model domain.
#include "framework/gifreader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using ::testing::HasSubstr;

using Bytes = std::vector<std::uint8_t>;
const std::string kGifData = VELMO_TEST_DATA "/gif/";

// A 4 x 2 image of the indices 0 1 2 255 / 3 3 3 3, minimum code size 8.
const Bytes kSmallGif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x04, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,
                         0x2c, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x08, 0x0b, 0x00,
                         0x01, 0x04, 0x10, 0xf0, 0x6f, 0x80, 0xc1, 0x01, 0x01, 0x01, 0x00, 0x3b};
constexpr std::size_t kImageSeparatorAt = 13;
constexpr std::size_t kMinCodeSizeAt = 23;
constexpr std::size_t kImageDataAt = 24;  // size byte of the one data sub-block

// The small image with `codes` of 9 bits each as its image data.
Bytes WithCodes(const std::vector<int>& codes) {
  Bytes data;
  std::uint32_t bits = 0;
  int count = 0;
  for (int code : codes) {
    bits |= static_cast<std::uint32_t>(code) << count;
    for (count += 9; count >= 8; count -= 8, bits >>= 8) data.push_back(static_cast<std::uint8_t>(bits));
  }
  if (count > 0) data.push_back(static_cast<std::uint8_t>(bits));
  Bytes gif(kSmallGif.begin(), kSmallGif.begin() + kImageDataAt);
  gif.push_back(static_cast<std::uint8_t>(data.size()));
  gif.insert(gif.end(), data.begin(), data.end());
  gif.insert(gif.end(), {0x00, 0x3b});
  return gif;
}

Bytes Inserted(Bytes bytes, std::size_t at, const Bytes& piece) {
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), piece.begin(), piece.end());
  return bytes;
}

Bytes Changed(Bytes bytes, std::size_t at, std::uint8_t value) {
  bytes.at(at) = value;
  return bytes;
}

Bytes FileBytes(const std::string& path) {
  const std::string text = ReadFile(path);
  return Bytes(text.begin(), text.end());
}

std::string Decoded(const Bytes& gif) {
  try {
    DecodeGif(gif);
  } catch (const std::string& text) {
    return text;
  }
  return "no fault";
}

TEST(GifDecode, PixelsAreThePaletteIndices) {
  const gif_indices small = DecodeGif(kSmallGif);
  EXPECT_EQ(small.width, 4);
  EXPECT_EQ(small.height, 2);
  EXPECT_EQ(small.cells, Bytes({0, 1, 2, 255, 3, 3, 3, 3}));

  // 16 and 4 colours (clear and end codes 16/17 and 4/5), and random
  // 256-colour images whose codes grow from 9 to 12 bits and whose table is
  // cleared when full, stored interlaced and not: the pixels another
  // decoder reads.
  struct {
    const char* gif;
    const char* raw;
    int width;
    int height;
  } fixtures[] = {{"colours16.gif", "colours16.raw", 23, 7},
                  {"colours4.gif", "colours4.raw", 19, 5},
                  {"random_97x61.gif", "random_97x61.raw", 97, 61},
                  {"random_97x61_flat.gif", "random_97x61_flat.raw", 97, 61}};
  for (const auto& f : fixtures) {
    const gif_indices image = DecodeGif(FileBytes(kGifData + f.gif));
    EXPECT_EQ(image.width, f.width) << f.gif;
    EXPECT_EQ(image.height, f.height) << f.gif;
    EXPECT_EQ(image.cells, FileBytes(kGifData + f.raw)) << f.gif;
  }
}

TEST(GifDecode, FramesLieAtTheirPlaceAndALaterOneCoversAnEarlierOne) {
  // A 6 x 4 screen, then an interlaced 3 x 5 frame at left 4, top 1 (after
  // a comment and a graphic control block) that reaches past the screen.
  const gif_indices image = DecodeGif(FileBytes(kGifData + "frames.gif"));
  EXPECT_EQ(image.cells, Bytes({1, 2, 3, 4, 5,   6,    //
                                2, 3, 4, 5, 0xa, 0xb,  //
                                3, 4, 5, 6, 0xb, 0xc,  //
                                4, 5, 6, 7, 0xc, 0xd}));
}

TEST(GifDecode, MalformedFilesNameTheirFault) {
  const Bytes graphic_control_without_end = {0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x05};
  Bytes no_trailer = kSmallGif;
  no_trailer.pop_back();
  struct {
    Bytes gif;
    std::string fault;
  } cases[] = {
      {Inserted(kSmallGif, kImageSeparatorAt, graphic_control_without_end),
       "Graphics COntrol extension found, but block end not found as 0x00 after 4 bytes\n"},
      {Inserted(kSmallGif, kImageSeparatorAt, {0x21, 0x02}), "invalid extension type ID \"0x2\" found"},
      {Inserted(kSmallGif, kSmallGif.size() - 1, {0xab}), "invalid extension type ID \"0xAB\" found"},
      {Changed(kSmallGif, kMinCodeSizeAt, 9), "LZW minimum code size 9 outside 2 to 8"},
      {Changed(kSmallGif, kMinCodeSizeAt, 1), "LZW minimum code size 1 outside 2 to 8"},
      // Clear, 0, then 300 where the table would assign 258 next.
      {WithCodes({256, 0, 300}), "LZW code 300 beyond the next table entry 258"},
      // Right after a clear only a root code can stand.
      {WithCodes({256, 258}), "LZW code 258 beyond the next table entry 258"},
      {WithCodes({256, 0, 1, 257}), "image data end after 2 of 8 pixels"},
      {WithCodes({256, 0, 1}), "image data end after 2 of 8 pixels"},
      {no_trailer, "file ends before its trailer 0x3B"},
      {Bytes(kSmallGif.begin(), kSmallGif.begin() + 30), "file ends inside the image data"},
      {Bytes(kSmallGif.begin(), kSmallGif.begin() + 9), "file ends inside the logical screen descriptor"},
      {Changed(kSmallGif, 6, 0), "logical screen of 0 x 2 pixels: a grid needs 1 to 100000000 cells"},
      // 34 GB as doubles: refused before anything of that size exists.
      {Changed(Changed(Changed(Changed(kSmallGif, 6, 0xff), 7, 0xff), 8, 0xff), 9, 0xff),
       "logical screen of 65535 x 65535 pixels: a grid needs 1 to 100000000 cells"},
  };
  for (const auto& c : cases) EXPECT_EQ(Decoded(c.gif), c.fault);
  // Data after the end code and a second trailer are left alone.
  EXPECT_EQ(Decoded(WithCodes({256, 0, 1, 2, 255, 3, 3, 3, 3, 257, 7, 7})), "no fault");
}

TEST(GifConvert, IndicesBecomeValuesOfTwoExponentialSegments) {
  const gif_conversion defaults;
  struct {
    double index;
    double value;
    double tolerance;
  } cases[] = {{-9999.0, -9999.0, 0.0},    {0.0, 0.0, 0.0},
               {1.0, 9.628125e-05, 1e-11}, {2.0, 1.039621e-04, 1e-10},
               {3.0, 1.122557e-04, 1e-10}, {100.0, 0.1921064, 1e-7},
               {127.0, 1.525956, 1e-6},    {128.0, 1.647689, 1e-6},
               {200.0, 413.8809, 1e-4},    {250.0, 19210.65, 1e-2},
               {251.0, -9999.0, 0.0},      {254.0, -9999.0, 0.0}};
  for (const auto& c : cases)
    EXPECT_NEAR(PaletteIndexValue(c.index, defaults), c.value, c.tolerance) << c.index;

  // Beyond the threshold the second segment applies, also to a fraction.
  gif_conversion two{1.0, 0.0, 127, 2.0, 0.0};
  EXPECT_EQ(PaletteIndexValue(127.0, two), 1.0);
  EXPECT_EQ(PaletteIndexValue(127.5, two), 2.0);

  // The grid conversion takes whole indices from a table of the same values.
  std::vector<double> row = {0.0, 0.0, 1.0, 127.5, 128.0, 255.0, -9999.0, 0.25};
  double* rows[] = {nullptr, row.data()};
  GifReader::ConvertPaletteIndices(rows, 7, 1, defaults.factor1, defaults.exponent1, defaults.threshold,
                                   defaults.factor2, defaults.exponent2);
  for (int c = 1; c <= 7; ++c) {
    const double index[] = {0, 0.0, 1.0, 127.5, 128.0, 255.0, -9999.0, 0.25};
    EXPECT_EQ(row[static_cast<size_t>(c)], PaletteIndexValue(index[c], defaults)) << c;
  }
}

// GIF grids read by the grid reader.
struct GifGridTest : test::ModelObjectTest {
  GifGridTest() {
    SetDomain(4, 2, 1000.0, 2000.0, 100.0, -99.0);
    test::WriteFile(dir / "small.gif", std::string(kSmallGif.begin(), kSmallGif.end()));
  }
  std::vector<double> Read(const std::string& name) { return ReadCells(dir / name); }
};

TEST_F(GifGridTest, AnImageOfTheDomainsSizeLiesOnItsRaster) {
  const gif_conversion d;
  // Index 255 and the cell outside the zone grid take the domain's nodata.
  std::vector<double> zone_cells = {0, 1, 1, 1, 1, 1, 1, 1, -99};
  double* zone_rows[] = {nullptr, zone_cells.data(), zone_cells.data() + 4};
  table[1].name = "[zone_grid]";
  table[1].data = zone_rows;
  const std::vector<double> cells = Read("small.gif");
  EXPECT_THAT(cells, ::testing::ElementsAre(0.0, PaletteIndexValue(1, d), PaletteIndexValue(2, d), -99.0,
                                            PaletteIndexValue(3, d), PaletteIndexValue(3, d),
                                            PaletteIndexValue(3, d), -99.0));
  table[1].data = nullptr;

  // Another size needs a georeference to be placed.
  object.ncols = 5;
  double** m = nullptr;
  EXPECT_THAT(
      test::ExpectCode(console, 22, [&] { object.ReadGrid(dir / "small.gif", m, 0, true, false, 0, false); }),
      HasSubstr("error assigning cell values from a GIF file to Velmo grids from file " + dir / "small.gif" +
                ". number of columns (4) and/or rows (2) in the GIF file not matching those in Velmo (5 "
                "and 2 resp.)."));
  EXPECT_EQ(m, nullptr);
}

TEST_F(GifGridTest, AGeoreferencedImageIsResampledBeforeItsIndicesAreConverted) {
  // Image centres lie 50 m west of the domain's corners, where the samples
  // are taken, and on the rows' south edges: every sample is half way
  // between two image columns and on one image row.
  object.SetSourceGeoreference(900.0, 1950.0, 100.0, nullptr);
  const std::vector<double> cells = Read("small.gif");
  const gif_conversion d;
  EXPECT_DOUBLE_EQ(cells[0], PaletteIndexValue(0.5, d));
  EXPECT_DOUBLE_EQ(cells[1], PaletteIndexValue(1.5, d));
  EXPECT_EQ(cells[2], -99.0);  // next to index 255
  EXPECT_DOUBLE_EQ(cells[4], PaletteIndexValue(3.0, d));

  // Zeros of the georeference stand for the defaults of radar images.
  object.SetSourceGeoreference(0.0, 0.0, 0.0, nullptr);
  Read("small.gif");
  EXPECT_EQ(object.source_xllcorner, 255000.0);
  EXPECT_EQ(object.source_yllcorner, -160000.0);
  EXPECT_EQ(object.source_cellsize, 1000.0);
}

TEST_F(GifGridTest, AMalformedImageEndsTheRunNamingItsFault) {
  const Bytes bad = Inserted(kSmallGif, kImageSeparatorAt, {0x21, 0x02});
  test::WriteFile(dir / "bad.gif", std::string(bad.begin(), bad.end()));
  double** m = nullptr;
  const std::string out =
      test::ExpectCode(console, 22, [&] { object.ReadGrid(dir / "bad.gif", m, 0, true, false, 0, false); });
  EXPECT_THAT(
      out, HasSubstr("error reading GIF " + dir / "bad.gif" + " (invalid extension type ID \"0x2\" found)"));
  EXPECT_EQ(m, nullptr);
}

}  // namespace
}  // namespace velmo

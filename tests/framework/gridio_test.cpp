// Grid and stack files: formats, reading, resampling, hole filling, writing.
#include "framework/gridio.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <random>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/interrupt.h"
#include "framework/modelobject.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr double kNodata = -9999.0;
using test::Rows;

// Twelve header values and the values of a binary grid or stack, little-endian.
template <typename T>
std::string BinaryFile(const std::vector<double>& header, const std::vector<double>& values) {
  std::string bytes;
  auto put = [&](double v) {
    unsigned char b[sizeof(T)];
    StoreLittleEndian<T>(static_cast<T>(v), b);
    bytes.append(reinterpret_cast<const char*>(b), sizeof(T));
  };
  for (double v : header) put(v);
  for (double v : values) put(v);
  return bytes;
}

std::vector<double> WithNan(std::vector<double> values, size_t index) {
  values.at(index) = NAN;
  return values;
}

std::vector<double> Header(double ncols, double nrows, double xll, double yll, double cs,
                           double nodata = kNodata, double levels = 0.0) {
  return {ncols, nrows, xll, yll, cs, nodata, 0, 0, 0, 0, 0, levels};
}

std::string AsciiGrid(int ncols, int nrows, double xll, double yll, double cs, double nodata,
                      const std::string& values) {
  std::ostringstream text;
  text << std::setprecision(12) << "ncols " << ncols << "\nnrows " << nrows << "\nxllcorner " << xll
       << "\nyllcorner " << yll << "\ncellsize " << cs << "\nnodata_value " << nodata << "\n"
       << values;
  return text.str();
}

struct GridIoTest : test::ModelObjectTest {
  // The model log is written to the working directory.
  test::WorkingDirectory in_dir{dir.path()};
  std::vector<std::pair<double***, int>> owned_stacks;

  GridIoTest() { SetDomain(4, 3, 100.0, 200.0, 10.0); }
  ~GridIoTest() override {
    for (auto [s, levels] : owned_stacks) object.Free3DMatrix(s);
  }

  // Reads a file into a new matrix of the domain.
  Rows Read(const std::string& file, int fill_mode = 0, double default_value = 0.0, bool report = false) {
    double** m = nullptr;
    object.ReadGrid(file, m, fill_mode, true, true, default_value, report);
    Own(m);
    return Values(m);
  }
  void SetZoneGrid(const Rows& zones) {
    table[1].name = "[zone_grid]";
    table[1].file_name = "zones.asc";
    table[1].data = Grid(zones);
  }
};

TEST(GridFormat, IsToldFromTheFirstBytes) {
  const std::string double_grid = BinaryFile<double>(Header(1, 1, 0, 0, 1), {5});
  const std::string single_grid = BinaryFile<float>(Header(1, 1, 0, 0, 1), {5});
  struct {
    std::string head;
    GridFileFormat format;
  } cases[] = {
      {"ncols 3\n", GridFileFormat::kAscii},
      {"NCOLS 3\n", GridFileFormat::kAscii},
      {"Ncols 3\n", GridFileFormat::kAscii},
      {std::string("CDF\x01", 4), GridFileFormat::kNetcdf},
      {"\x89HDF\r\n", GridFileFormat::kNetcdf},
      {std::string("\0HDF", 4), GridFileFormat::kUnknown},
      {double_grid, GridFileFormat::kBinaryDouble},
      {single_grid, GridFileFormat::kBinarySingle},
      {BinaryFile<double>(Header(1, 1, 0, 0, 1, -1), {5}), GridFileFormat::kUnknown},
      {"GIF89a", GridFileFormat::kGif},
      {"nrows 3\n", GridFileFormat::kUnknown},
      {"", GridFileFormat::kUnknown},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(c.head.data());
    EXPECT_EQ(DetectGridFormat({bytes, std::min<size_t>(c.head.size(), 96)}), c.format) << c.head;
  }
}

TEST(GridFormat, NumbersMustBeWholeFiniteTokens) {
  double v = 0;
  for (const char* good : {"1", "-9999", "+2.5", "1e3", "1.", ".5", "-0.25E-2"})
    EXPECT_TRUE(ParseGridNumber(good, v)) << good;
  for (const char* bad : {"", "x", "1,5", "12abc", "nan", "inf", "-inf", "+-1", "1e999", "--1"})
    EXPECT_FALSE(ParseGridNumber(bad, v)) << bad;
}

TEST(GridFormat, NumbersReadExactlyAsFromChars) {
  // Plain decimals take a fast path; every value must equal what from_chars
  // reads, bit for bit.
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> magnitude(-12.0, 12.0);
  char text[64];
  for (int i = 0; i < 200000; ++i) {
    const double x = std::pow(10.0, magnitude(random)) * (i % 2 ? -1.0 : 1.0);
    const int precision = i % 18;
    const int length = std::snprintf(text, sizeof text, i % 3 ? "%.*f" : "%.*g", precision, x);
    double expected = 0, actual = 0;
    const std::string_view token(text, static_cast<size_t>(length));
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), expected);
    const bool expected_ok =
        error == std::errc() && end == token.data() + token.size() && std::isfinite(expected);
    ASSERT_EQ(ParseGridNumber(token, actual), expected_ok) << token;
    if (expected_ok) {
      ASSERT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0) << token;
    }
  }
}

// Values whose "%g" text is easy to get wrong: signs, zeros, nodata,
// subnormals, the limits, exact and near ties of the sixth digit, the borders
// between fixed and exponent notation and the powers of ten one unit of the
// last place either side.
std::vector<double> TrickyValues() {
  std::vector<double> values = {0.0,
                                -0.0,
                                kNodata,
                                -99,
                                1,
                                0.5,
                                2.5,
                                1.0 / 3.0,
                                123456.5,
                                123457.5,
                                1234565,
                                1234575,
                                999999.5,
                                999999.4999999,
                                99999.95,
                                9.999995,
                                0.1234565,
                                0.000099999949,
                                0.00009999995,
                                0.0001,
                                0.00001,
                                100000,
                                999999,
                                1000000,
                                123456789,
                                1.0e15,
                                1.0e16,
                                1.0e-15,
                                1.0e-16,
                                std::ldexp(1.0, 50),
                                std::ldexp(1.0, -49),
                                1.7976931348623157e308,
                                2.2250738585072014e-308,
                                2.2250738585072009e-308,
                                4.9406564584124654e-324,
                                1e-310,
                                HUGE_VAL,
                                NAN,
                                400.01,
                                2399.37,
                                0.15,
                                1.05e-5,
                                3.14159e-7};
  for (int e = -16; e <= 16; ++e) {
    const double power = std::pow(10.0, e);
    values.insert(values.end(), {power, std::nextafter(power, 0.0), std::nextafter(power, HUGE_VAL),
                                 9.999995 * power, 9.999994999 * power, 1.000005 * power});
  }
  const size_t positive = values.size();
  for (size_t i = 0; i < positive; ++i) values.push_back(-values[i]);
  return values;
}

std::string PrintfG(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Formatted(double value, char* (*format)(char*, char*, double)) {
  char text[64];
  return std::string(text, format(text, text + sizeof text, value));
}

TEST(GridFormat, ValuesAreWrittenAsPrintfG) {
  // The writer's fast conversion must give the bytes of "%g" (and of the
  // exact conversion it replaced) for every value.
  std::vector<double> values = TrickyValues();
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> magnitude(-17.0, 17.0);
  std::uniform_int_distribution<long long> six_digits(100000, 999999);
  for (int i = 0; i < 40000; ++i) {
    // Any bits; any size; grid-like values in two decimals; and values next
    // to a tie of the sixth significant digit.
    values.push_back(std::bit_cast<double>(random()));
    values.push_back(std::pow(10.0, magnitude(random)));
    values.push_back(std::round(std::pow(10.0, magnitude(random) / 4.0) * 100.0) / 100.0 - 5.0);
    const double tie = (static_cast<double>(six_digits(random)) + 0.5) * std::pow(10.0, i % 30 - 18);
    values.insert(values.end(), {tie, std::nextafter(tie, 0.0), std::nextafter(tie, HUGE_VAL)});
  }
  for (double v : values) {
    const std::string expected = PrintfG(v);
    ASSERT_EQ(Formatted(v, FormatGeneral), expected) << std::hexfloat << v;
    ASSERT_EQ(Formatted(v, FormatGeneralExactly), expected) << std::hexfloat << v;
  }
  // A short buffer is never overrun.
  char small[8];
  EXPECT_EQ(std::string(small, FormatGeneral(small, small + sizeof small, -1.5)), "-1.5");
}

TEST(GridFormat, TokensSpanningBlockBoundariesStayWhole) {
  TempDir dir;
  const std::string path = dir / "t.txt";
  WriteFile(path, "12345 678\r\n9\t-10.5  ");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  TokenScanner scanner(file, 6);
  std::vector<std::string> tokens;
  std::string_view token;
  while (scanner.Next(token)) tokens.emplace_back(token);
  std::fclose(file);
  EXPECT_EQ(tokens, (std::vector<std::string>{"12345", "678", "9", "-10.5"}));
}

TEST(Resample, FollowsTheFourNearestCentres) {
  // Source 2 x 2 with cell size 20 at (0, 0): centres x 10, 30 and y 30 (row 1), 10 (row 2).
  double row0[3] = {0, 0, 0}, row1[3] = {0, 1, 2}, row2[3] = {0, 3, 4};
  double* source[3] = {row0, row1, row2};
  struct {
    double x, y;  // lower-left corner of a 1 x 1 target
    double expected;
  } cases[] = {
      {10, 30, 1},     // on the centre of row 1, column 1
      {30, 10, 4},     // on the centre of row 2, column 2
      {20, 20, 2.5},   // midway between all four
      {35, 30, 2},     // beyond the last column: the border value
      {20, -50, 3.5},  // below the last row
      {15, 10, 3.25},  // a quarter along the lower row
  };
  for (const auto& c : cases) {
    double cell[2] = {0, 0};
    double* target[2] = {nullptr, cell};
    ResampleBilinear(source, 1, 2, 1, 2, 0, 0, 20, target, 1, 1, 1, 1, c.x, c.y, 5, nullptr);
    EXPECT_DOUBLE_EQ(cell[1], c.expected) << c.x << "/" << c.y;
  }
  // A missing neighbour gives -9999; a masked cell takes the mask's value.
  row2[2] = -9999.5;
  double cell[2] = {0, 0}, mask_row[2] = {0, -10000};
  double* target[2] = {nullptr, cell};
  double* mask[2] = {nullptr, mask_row};
  ResampleBilinear(source, 1, 2, 1, 2, 0, 0, 20, target, 1, 1, 1, 1, 20, 20, 5, nullptr);
  EXPECT_EQ(cell[1], -9999.0);
  ResampleBilinear(source, 1, 2, 1, 2, 0, 0, 20, target, 1, 1, 1, 1, 10, 30, 5, mask);
  EXPECT_EQ(cell[1], -10000.0);
}

TEST(Resample, CodesTakeTheSourceCellHoldingThePoint) {
  // Source 2 x 2 of cell size 20 at (0, 0): row 1 (north, y 20..40) holds 1 2,
  // row 2 (y 0..20) holds 3 4.
  double row0[3] = {0, 0, 0}, row1[3] = {0, 1, 2}, row2[3] = {0, 3, 4};
  double* source[3] = {row0, row1, row2};
  struct {
    double x, y;  // lower-left corner of a 1 x 1 target
    double expected;
  } cases[] = {
      {5, 25, 1},         {35, 5, 4},
      {19.9, 19.9, 3},    {20, 20, 2},  // on a corner: the cell north-east of it
      {20 - 1e-12, 0, 4},               // a rounding error short of a boundary
      {55, 10, 4},        {-5, 99, 1},  // beyond the source: the nearest border cell
  };
  for (const auto& c : cases) {
    double cell[2] = {0, 0};
    double* target[2] = {nullptr, cell};
    ResampleHoldingCell(source, 2, 2, 0, 0, 20, target, 1, 1, c.x, c.y, 5, nullptr);
    EXPECT_EQ(cell[1], c.expected) << c.x << "/" << c.y;
  }
  // A missing source cell gives -9999; a masked cell takes the mask's value.
  row2[2] = -9999.5;
  double cell[2] = {0, 0}, mask_row[2] = {0, -10000};
  double* target[2] = {nullptr, cell};
  double* mask[2] = {nullptr, mask_row};
  ResampleHoldingCell(source, 2, 2, 0, 0, 20, target, 1, 1, 30, 10, 5, nullptr);
  EXPECT_EQ(cell[1], -9999.0);
  ResampleHoldingCell(source, 2, 2, 0, 0, 20, target, 1, 1, 5, 25, 5, mask);
  EXPECT_EQ(cell[1], -10000.0);
}

TEST_F(GridIoTest, AsciiOutputFollowsTheHeaderGridConventions) {
  SetDomain(3, 2, 100.5, 200, 10);
  double** grid = Grid({{1.5, 2, kNodata}, {1.0 / 3.0, 1234567, -0.000012}});
  object.WriteGrid("out.asc", grid, true, true, false);
  EXPECT_EQ(ReadFile(dir / "out.asc"),
            "ncols\t3\nnrows\t2\nxllcorner\t100.500000\nyllcorner\t200.000000\ncellsize\t10.000000\n"
            "nodata_value\t-9999.000000\n1.5\t2\t-9999\n0.333333\t1.23457e+06\t-1.2e-05\n");

  // A missing row is written with the header's nodata value.
  object.nodata_value = -99;
  double* second = grid[2];
  grid[2] = nullptr;
  object.WriteGrid("missing.asc", grid, true, false, false);
  grid[2] = second;
  EXPECT_THAT(ReadFile(dir / "missing.asc"),
              HasSubstr("nodata_value\t-99.000000\n1.5\t2\t-9999\n-99\t-99\t-99\n"));
}

TEST_F(GridIoTest, AsciiGridsHoldThePrintfTextOfEveryValue) {
  // Rows of the tricky values, nodata among them, a missing row and a
  // masked grid.
  const std::vector<double> values = TrickyValues();
  const int ncols = 9;
  const int nrows = static_cast<int>(values.size()) / ncols;
  SetDomain(ncols, nrows + 1, 100, 200, 10);
  Rows rows(static_cast<size_t>(nrows) + 1, std::vector<double>(ncols, kNodata));
  std::string expected;
  for (int r = 0; r < nrows; ++r) {
    for (int c = 0; c < ncols; ++c) {
      rows[static_cast<size_t>(r)][static_cast<size_t>(c)] = values[static_cast<size_t>(r * ncols + c)];
      expected += (c > 0 ? "\t" : "") + PrintfG(rows[static_cast<size_t>(r)][static_cast<size_t>(c)]);
    }
    expected += "\n";
  }
  double** grid = Grid(rows);
  grid[nrows + 1] = nullptr;
  expected += "-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\n";
  object.WriteGrid("tricky.asc", grid, true, false, false);
  const std::string text = ReadFile(dir / "tricky.asc");
  const size_t header_end = text.find("nodata_value\t-9999.000000\n");
  ASSERT_NE(header_end, std::string::npos);
  EXPECT_EQ(text.substr(header_end + 26), expected);

  // A grid larger than the text buffer goes out in several writes.
  SetDomain(1500, 100, 100, 200, 10);
  double** wide = Grid(Rows(100, std::vector<double>(1500, -1.0 / 3.0)));
  object.WriteGrid("wide.asc", wide, true, false, false);
  std::string row;
  for (int c = 0; c < 1500; ++c) row += c > 0 ? "\t-0.333333" : "-0.333333";
  row += "\n";
  const std::string wide_text = ReadFile(dir / "wide.asc");
  EXPECT_EQ(wide_text.size(), wide_text.find("-0.333333") + 100 * row.size());
  EXPECT_EQ(wide_text.substr(wide_text.size() - row.size()), row);
}

TEST_F(GridIoTest, GridsRoundTripInEveryFormat) {
  const Rows values = {{1.0 / 3.0, -2.5e-7, 123456789.125, kNodata}, {0, 1, 2, 3}, {-1, 1e30, 7.75, 42}};
  struct {
    const char* file;
    bool ascii;
    bool double_precision;
  } formats[] = {{"g.asc", true, false}, {"g.dbl", false, true}, {"g.flt", false, false}};
  for (const auto& f : formats) {
    object.WriteGrid(f.file, Grid(values), f.ascii, f.double_precision, false);
    const Rows read = Read(f.file);
    for (size_t r = 0; r < values.size(); ++r)
      for (size_t c = 0; c < values[r].size(); ++c) {
        const double v = values[r][c];
        if (f.ascii) {
          char text[32];
          std::snprintf(text, sizeof text, "%g", v);
          EXPECT_EQ(read[r][c], std::strtod(text, nullptr)) << f.file;
        } else if (f.double_precision) {
          EXPECT_EQ(read[r][c], v) << f.file;
        } else {
          EXPECT_EQ(read[r][c], static_cast<double>(static_cast<float>(v))) << f.file;
        }
      }
  }
}

TEST_F(GridIoTest, BinaryGridsAreLittleEndianWithStatisticsInTheHeader) {
  SetDomain(3, 2, 100, 200, 10);
  object.WriteGrid("g.dbl", Grid({{1, 2, kNodata}, {3, 4, 5}}), false, true, false);
  const std::string bytes = ReadFile(dir / "g.dbl");
  ASSERT_EQ(bytes.size(), 96u + 48u);
  // 3.0 as a little-endian double.
  EXPECT_EQ(bytes.substr(0, 8), std::string("\0\0\0\0\0\0\x08\x40", 8));
  auto value = [&](int i) {
    return LoadLittleEndian<double>(reinterpret_cast<const unsigned char*>(&bytes[8 * i]));
  };
  EXPECT_EQ(value(5), kNodata);
  EXPECT_EQ(value(6), 5.0);   // count
  EXPECT_EQ(value(7), 1.0);   // minimum
  EXPECT_EQ(value(8), 5.0);   // maximum
  EXPECT_EQ(value(9), 15.0);  // sum
  EXPECT_EQ(value(10), 3.0);  // mean
  EXPECT_NEAR(value(11), std::sqrt(2.5), 1e-12);
  EXPECT_EQ(value(12 + 2), kNodata);

  object.WriteGrid("empty.flt", Grid({{kNodata, kNodata, kNodata}, {kNodata, kNodata, kNodata}}), false,
                   false, false);
  const std::string single = ReadFile(dir / "empty.flt");
  ASSERT_EQ(single.size(), 48u + 24u);
  const float expected[] = {0, 0, 0, 0, -9999, -9999};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(LoadLittleEndian<float>(reinterpret_cast<const unsigned char*>(&single[24 + 4 * i])),
              expected[i]);
}

TEST_F(GridIoTest, AsciiInputToleratesLineEndsCaseAndKeySpelling) {
  const Rows expected = {{1, 2, 3, 4}, {5, 6, 7, kNodata}, {9, 10, 11, 12}};
  const std::string body = "1 2 3 4\r\n5 6 7 -99\r\n9\t10  11 +12\r\n";
  WriteFile(
      dir / "crlf.asc",
      "NCOLS 4\r\nNROWS 3\r\nXLLCORNER 100\r\nYLLCORNER 200\r\nCELLSIZE 10\r\nNODATA_VALUE -99\r\n" + body);
  WriteFile(dir / "odd.asc", "ncol 4\nrows 3\nx 100.9\ny 200\nsize 10\nnodata -99\n" + body);
  // The file's nodata value -99 arrives as the domain's.
  EXPECT_EQ(Read("crlf.asc"), expected);
  EXPECT_EQ(Read("odd.asc"), expected);
  EXPECT_EQ(object.binary_header[2], 100.0);  // the corner's whole part
}

TEST_F(GridIoTest, MalformedFilesGiveReadErrors) {
  const std::string good_header =
      "ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value -9999\n";
  const std::string rows = "1 2 3 4\n5 6 7 8\n";
  struct {
    std::string content;
    int code;
    std::string message;
  } cases[] = {
      {good_header + rows + "9 x 11 12\n", 22,
       "error reading ascii grid bad in ASCII-Format in row 3, col 2"},
      {good_header + rows + "9 nan 11 12\n", 22, "in row 3, col 2"},
      {good_header + rows + "9 10\n", 22, "in row 3, col 3"},
      // Rows that do not fit the head shift every value after them.
      {good_header + rows + "5 6 7 8\n9 10 11 12\n", 22,
       "error reading ascii grid bad in ASCII-Format: more values than ncols 4 x nrows 3, line 10 is the "
       "first that does not fit"},
      {good_header + "1 2 3 4 0\n5 6 7 8\n9 10 11 12\n", 22, "line 7 is the first that does not fit"},
      {good_header + rows + "9 10 11 12 13", 22, "line 9 is the first that does not fit"},
      {good_header + rows + "9 10 11 12\n-9999\n", 22, "line 10 is the first that does not fit"},
      {"ncols 3 nrows 3 xllcorner 100\nyllcorner 200 cellsize 10 nodata_value -9999 1 2 3\n" + rows, 22,
       "line 3 is the first that does not fit"},
      {"ncols -4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value -9999\n", 22,
       "error reading ascii value #1 from bad"},
      {"ncols 4\nnrows 1e9\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value -9999\n" + rows, 22,
       "error reading ascii value #2 from bad"},
      {"ncols 4\nnrows 3\nxllcorner 100\n", 22, "error reading ascii value #4 from bad"},
      {"ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 0\nnodata_value -9999\n" + rows, 22,
       "error reading ascii value #5 from bad"},
      {BinaryFile<double>(Header(4, 3, 100, 200, 10), std::vector<double>(11, 1.0)), 22,
       "error reading double grid bad"},
      {BinaryFile<double>(Header(8, 3, 100, 200, 10), std::vector<double>(12, 1.0)), 22,
       "error reading (irregular) float  grid bad"},
      // A header that promises far more than the file holds is refused before
      // a raster of that size is allocated.
      {BinaryFile<double>(Header(1e7, 1e7, 100, 200, 10), {}), 22,
       "error reading (irregular) float  grid bad"},
      {BinaryFile<float>(Header(1e7, 1e7, 100, 200, 10), {}), 22,
       "error reading (irregular) float  grid bad"},
      {BinaryFile<float>(Header(4, 3, 100, 200, 10), std::vector<double>(11, 1.0)), 22,
       "error reading double grid bad"},
      // nan and inf are refused in binary grids as in text grids, also where
      // the file is resampled.
      {BinaryFile<double>(Header(4, 3, 100, 200, 10), {1, 2, 3, 4, 5, 6, 7, 8, 9, NAN, 11, 12}), 22,
       "error reading double grid bad in row 3, col 2"},
      {BinaryFile<float>(Header(4, 3, 100, 200, 10), {1, 2, 3, 4, 5, 6, 7, -INFINITY, 9, 10, 11, 12}), 22,
       "error reading double grid bad in row 2, col 4"},
      {BinaryFile<double>(Header(2, 1, 100, 200, 10), {INFINITY, 1}), 22,
       "error reading (irregular) float  grid bad in row 1, col 1"},
      {BinaryFile<double>(Header(-4, 3, 100, 200, 10), std::vector<double>(12, 1.0)), 22,
       "error reading double value from the header of bad"},
      {BinaryFile<float>(Header(4, 3e9, 100, 200, 10), std::vector<double>(12, 1.0)), 22,
       "error reading double value #2 from the header of bad"},
      {BinaryFile<double>(Header(4, 3, 100, 200, 10, -1), std::vector<double>(12, 1.0)), 22,
       "could not recognise file format (neither ascii, nor single, double, or GIF) for bad"},
      // GIF and netCDF files go to their readers.
      {"GIF89a.....", 22, "error reading GIF bad (logical screen of 11822 x 11822 pixels"},
      {std::string("CDF\x01", 4) + std::string(100, '\0'), 26,
       "cannot find variable \"bad\" in file \"bad\" for reading from netCDF."},
      {"", 22, "could not recognise file format"},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "bad", c.content);
    double** m = nullptr;
    const std::string out = ExpectCode(c.code, [&] { object.ReadGrid("bad", m, 0, true, false, 0, false); });
    EXPECT_THAT(out, HasSubstr(c.message)) << c.message;
    EXPECT_EQ(m, nullptr) << "a half-read grid was handed out: " << c.message;
  }
}

TEST_F(GridIoTest, TargetWithoutMatrixIsRefused) {
  WriteFile(dir / "g.asc", AsciiGrid(4, 3, 100, 200, 10, kNodata, "1 2 3 4 5 6 7 8 9 10 11 12\n"));
  double** m = nullptr;
  EXPECT_THAT(ExpectCode(22, [&] { object.ReadGrid("g.asc", m, 0, false, false, 0, false); }),
              HasSubstr("error reading grid g.asc no memory allocated (pointer given to function is NULL)"));
}

TEST_F(GridIoTest, CornersCompareByTheirWholePartAndCellsizeWithinRounding) {
  SetDomain(4, 3, 100.2, 200, 10);
  const std::string values = "1 2 3 4 5 6 7 8 9 10 11 12\n";
  WriteFile(dir / "shifted.asc", AsciiGrid(4, 3, 100.7, 200, 10, kNodata, values));
  WriteFile(dir / "finer.asc", AsciiGrid(4, 3, 100.2, 200, 10.0000001, kNodata, values));
  EXPECT_EQ(Read("shifted.asc"), (Rows{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}));
  EXPECT_NE(Read("finer.asc"), (Rows{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}));

  // Exported headers carry 99.99999999999 for 100: still the domain's raster,
  // read straight, not smeared by a resampling.
  SetDomain(4, 3, 100, 200, 100);
  const std::vector<double> cells = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  WriteFile(dir / "exported.asc",
            AsciiGrid(4, 3, 99.99999999999, 199.99999999999, 99.99999999999, kNodata, values));
  WriteFile(dir / "exported.dbl",
            BinaryFile<double>(Header(4, 3, 100.00000000001, 200, 100.00000000001), cells));
  WriteFile(dir / "near_zero.dbl", BinaryFile<double>(Header(4, 3, -1e-12, 200, 100), cells));
  for (const char* file : {"exported.asc", "exported.dbl"})
    EXPECT_EQ(Read(file), (Rows{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}})) << file;
  SetDomain(4, 3, 0, 200, 100);
  EXPECT_EQ(Read("near_zero.dbl"), (Rows{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}));
}

TEST_F(GridIoTest, CodesAreResampledByTheCellHoldingEachPoint) {
  // Domain 4 x 4 of 10 m at (100, 200); the file 2 x 2 of 20 m shifted by 5 m
  // to the south-west, with a missing cell. Blending would make 12.5 of the
  // land uses 10 and 20.
  SetDomain(4, 4, 100, 200, 10);
  WriteFile(dir / "codes.asc", AsciiGrid(2, 2, 95, 195, 20, -1, "10 20\n30 -1\n"));
  double** m = nullptr;
  object.ReadGrid("codes.asc", m, 0, true, false, 0, false, true, 0, false, grid_content::codes);
  Own(m);
  EXPECT_EQ(
      Values(m),
      (Rows{{10, 10, 20, 20}, {10, 10, 20, 20}, {30, 30, kNodata, kNodata}, {30, 30, kNodata, kNodata}}));
  // The same file read as values is blended.
  EXPECT_EQ(Read("codes.asc")[0][1], 12.5);
}

TEST_F(GridIoTest, AnotherRasterIsResampledOntoTheDomain) {
  // Domain 4 x 4 of 10 m at (100, 200); the file 2 x 2 of 20 m at the same corner.
  SetDomain(4, 4, 100, 200, 10);
  WriteFile(dir / "coarse.asc", AsciiGrid(2, 2, 100, 200, 20, -1, "1 2\n3 -1\n"));
  WriteFile(dir / "coarse.flt", BinaryFile<float>(Header(2, 2, 100, 200, 20), {1, 2, 3, 4}));
  const Rows ascii = Read("coarse.asc");
  EXPECT_EQ(ascii[1][2], kNodata);  // a neighbour is the file's nodata
  EXPECT_EQ(ascii[0][0], 1.0);      // beyond the centres: border value
  const Rows binary = Read("coarse.flt");
  EXPECT_DOUBLE_EQ(binary[1][2], 2.5);  // row 2, column 3 samples (120, 220): midway between all four
  EXPECT_DOUBLE_EQ(binary[3][1], 3.0);  // (110, 200): on column 1's centre, below row 2's centre
  // The domain's mask keeps its nodata cells.
  double** mask = Grid({{1, 1, 1, 1}, {1, 1, kNodata, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}});
  object.SetSourceGeoreference(9999, 9999, 9999, mask);
  EXPECT_EQ(Read("coarse.flt")[1][2], kNodata);
}

TEST_F(GridIoTest, ResampledMissingCellsNeverBlendAndTakeTheDomainsNodata) {
  // Domain 4 x 4 of 10 m whose nodata is -99; each file 2 x 2 of 20 m with its
  // lower-right cell missing. Samples next to the missing cell are missing.
  SetDomain(4, 4, 100, 200, 10);
  object.nodata_value = -99;
  const double N = -99;
  WriteFile(dir / "gap.asc", AsciiGrid(2, 2, 100, 200, 20, kNodata, "1 2\n3 -9999\n"));
  WriteFile(dir / "gap_own_nodata.asc", AsciiGrid(2, 2, 100, 200, 20, -1, "1 2\n3 -1\n"));
  WriteFile(dir / "gap.flt", BinaryFile<float>(Header(2, 2, 100, 200, 20), {1, 2, 3, kNodata}));
  WriteFile(dir / "gap.dbl", BinaryFile<double>(Header(2, 2, 100, 200, 20), {1, 2, 3, kNodata}));
  for (const char* file : {"gap.asc", "gap_own_nodata.asc", "gap.flt", "gap.dbl"})
    EXPECT_EQ(Read(file), (Rows{{1, 1, 1.5, 2}, {2, N, N, N}, {3, N, N, N}, {3, N, N, N}})) << file;
  // A masked cell is missing as well.
  double** mask = Grid({{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {kNodata, 1, 1, 1}});
  object.SetSourceGeoreference(9999, 9999, 9999, mask);
  EXPECT_EQ(Read("gap.asc")[3][0], N);
}

TEST_F(GridIoTest, HolesInsideTheZoneGridAreFilledWithTheDefault) {
  SetZoneGrid({{1, 1, 1, kNodata}, {1, 1, 1, kNodata}, {1, 1, 1, kNodata}});
  WriteFile(dir / "holes.asc", AsciiGrid(4, 3, 100, 200, 10, -99, "1 -99 3 4\n5 6 7 -99\n-99 10 11 12\n"));
  EXPECT_EQ(Read("holes.asc", 2, 0.0), (Rows{{1, 0, 3, kNodata}, {5, 6, 7, kNodata}, {0, 10, 11, kNodata}}));
  EXPECT_THAT(console.str(), HasSubstr("In holes.asc: 2 nodata values replaced!"));
  const std::string log = ReadFile(dir / "modell_0.log");
  // The summary stands in the log as it is, like the lines of single fills.
  EXPECT_EQ(log, "in holes.asc: 2 nodata values replaced!\n\n");
}

TEST_F(GridIoTest, HolesAreFilledFromTheFirstCellOfTheSearchTriangle) {
  SetDomain(5, 5, 100, 200, 10);
  SetZoneGrid(Rows(5, std::vector<double>(5, 1.0)));
  const double N = kNodata;
  // Hole (3, 3): (2, 4) lies outside the first triangle, (4, 5) inside it.
  object.WriteGrid(
      "tri.asc", Grid({{N, N, N, N, N}, {N, N, N, 7, N}, {N, N, N, N, N}, {N, N, N, N, 9}, {N, N, N, N, N}}),
      true, false, false);
  double** m = nullptr;
  object.ReadGrid("tri.asc", m, 1, true, false, -5, true);
  Own(m);
  EXPECT_EQ(m[3][3], 9.0);
  EXPECT_EQ(m[1][3], 7.0);  // (2, 4) lies in (1, 3)'s first triangle
  EXPECT_THAT(console.str(), HasSubstr("y: 3 x: 3in tri.asc: -9999 replaced by 9"));
  EXPECT_THAT(ReadFile(dir / "modell_0.log"),
              HasSubstr("y: 3 x: 3  in tri.asc -9999.000000 replaced by 9.000000!\n"));

  // Without reporting every hole gets the default, found value or not.
  double** quiet = nullptr;
  object.ReadGrid("tri.asc", quiet, 1, true, false, -5, false);
  Own(quiet);
  EXPECT_EQ(quiet[3][3], -5.0);
  EXPECT_EQ(quiet[2][4], 7.0);
}

TEST_F(GridIoTest, AHoleWithoutNeighbourEndsTheRun) {
  SetDomain(13, 1, 100, 200, 10);
  SetZoneGrid({std::vector<double>(13, 1.0)});
  WriteFile(dir / "far.asc",
            AsciiGrid(13, 1, 100, 200, 10, kNodata,
                      "-9999 -9999 -9999 -9999 -9999 -9999 -9999 -9999 -9999 -9999 -9999 -9999 8\n"));
  double** m = nullptr;
  EXPECT_THAT(ExpectCode(25, [&] { object.ReadGrid("far.asc", m, 1, true, false, 0, true); }),
              HasSubstr("In far.asc is a too big hole at x/y = 1/1!"));
  EXPECT_EQ(m, nullptr);
  EXPECT_THAT(ReadFile(dir / "modell_0.log"), HasSubstr("In far.asc is a too big hole at x/y = 1/1\n!\n"));
}

TEST_F(GridIoTest, AnUnwritableModelLogEndsHoleFilling) {
  SetZoneGrid(Rows(3, std::vector<double>(4, 1.0)));
  WriteFile(dir / "g.asc", AsciiGrid(4, 3, 100, 200, 10, kNodata, "1 2 3 4 5 6 7 8 9 10 11 -9999\n"));
  std::filesystem::create_directory(dir / "modell_0.log");
  double** m = nullptr;
  EXPECT_THAT(ExpectCode(5, [&] { object.ReadGrid("g.asc", m, 2, true, false, 0, false); }),
              HasSubstr("error opening log file modell_0.log"));
  EXPECT_EQ(m, nullptr);
}

TEST_F(GridIoTest, AFailingCloseOfAWrittenGridIsReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  double** grid = Grid({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
  EXPECT_THAT(ExpectCode(27, [&] { object.WriteGrid("/dev/full", grid, true, false, false); }),
              HasSubstr("error closing /dev/full"));
  // A grid larger than the output buffer fails while it is written.
  SetDomain(4000, 3, 100, 200, 10);
  double** wide = Grid(Rows(3, std::vector<double>(4000, 1.25)));
  EXPECT_THAT(ExpectCode(18, [&] { object.WriteGrid("/dev/full", wide, false, true, false); }),
              HasSubstr("write error /dev/full ! (18)"));
  SetDomain(4, 3, 100, 200, 10);
}

TEST_F(GridIoTest, AGridThatCannotBeWrittenCompletelyIsRemoved) {
  // A disk that fills: files of at most 64 bytes, in a child process.
  double** grid = Grid({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
  for (const bool ascii : {true, false}) {
    SCOPED_TRACE(ascii ? "ascii" : "binary");
    const std::string failing = ascii ? "g.asc" : "g.dbl", closing = ascii ? "c.asc" : "c.dbl";
    std::cout.flush();
    const pid_t child = fork();
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit bound{64, 64};
      if (setrlimit(RLIMIT_FSIZE, &bound) != 0) _exit(3);
      const int thrown = test::ThrownCode([&] { object.WriteGrid(failing, grid, ascii, true, false); });
      // While the run is being closed the failure is noted, not thrown.
      ms.BeginClosing();
      const int inner = test::ThrownCode([&] { object.WriteGrid(closing, grid, ascii, true, false); });
      const int noted = ms.EndClosing();
      _exit(thrown != 0 && inner == 0 && noted == thrown ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(std::filesystem::exists(dir / failing));
    EXPECT_FALSE(std::filesystem::exists(dir / closing));
  }
}

TEST_F(GridIoTest, OpeningRetriesFiveTimesBeforeGivingUp) {
  double** m = nullptr;
  const std::string out =
      ExpectCode(21, [&] { object.ReadGrid("missing.asc", m, 0, true, false, 0, false); });
  for (int n = 5; n >= 1; --n)
    EXPECT_THAT(out, HasSubstr("error opening missing.asc. Will try again in 0 ms... (retriesleft = " +
                               std::to_string(n) + ")"));
  EXPECT_THAT(out, HasSubstr("still error opening missing.asc - no retry."));
  const std::string xml = ReadFile(dir / "diag.xml");
  EXPECT_THAT(xml, HasSubstr("<line level=\"2\" description= \"error opening missing.asc. Will try again"));
  EXPECT_THAT(xml, HasSubstr("<line level=\"0\" description= \"still error opening missing.asc"));
}

TEST_F(GridIoTest, NamesArePrefixedAndNetcdfRecordPartsSetAside) {
  std::filesystem::create_directory(dir / "in");
  object.InitialStateDirectory = std::make_unique<std::string>("in/");
  WriteFile(dir / "in/temperature.nc", std::string("CDF\x01", 4) + std::string(100, '\0'));
  double** m = nullptr;
  std::string out =
      ExpectCode(26, [&] { object.ReadGrid("temperature.nc<tair>12", m, 0, true, false, 0, false); });
  EXPECT_THAT(out, HasSubstr("cannot find variable \"tair\" in file \"in/temperature.nc\""));
  // A leading "<" belongs to the file name.
  out = ExpectCode(21, [&] { object.ReadGrid("<odd", m, 0, true, false, 0, false); });
  EXPECT_THAT(out, HasSubstr("still error opening in/<odd - no retry."));
  // Absolute names keep their place.
  WriteFile(dir / "abs.asc", AsciiGrid(4, 3, 100, 200, 10, kNodata, "1 2 3 4 5 6 7 8 9 10 11 12\n"));
  EXPECT_EQ(Read(dir / "abs.asc")[2][3], 12.0);
}

TEST_F(GridIoTest, MaskedGridsAreCutToTheRowRanges) {
  SetDomain(12, 2, 100, 200, 10);
  std::vector<row_range> ranges = {{0, 0}, {5, 9}, {0, -1}};
  object.row_ranges = ranges.data();
  double** grid = Grid({std::vector<double>(12, 2.0), std::vector<double>(12, 3.0)});
  object.WriteMaskedGrid("masked.dbl", grid, false, true, false);
  for (int c = 1; c <= 12; ++c) EXPECT_EQ(grid[1][c], c >= 5 && c <= 9 ? 2.0 : kNodata) << c;
  for (int c = 1; c <= 12; ++c) EXPECT_EQ(grid[2][c], kNodata);
  EXPECT_EQ(object.binary_header[6], 5.0);   // only the valid cells count
  EXPECT_EQ(object.binary_header[9], 10.0);  // sum

  // The plain writer counts a row without valid columns whole.
  object.WriteGrid("plain.dbl", Grid({std::vector<double>(12, 2.0), std::vector<double>(12, 3.0)}), false,
                   true, false);
  EXPECT_EQ(object.binary_header[6], 17.0);

  double* keep = grid[2];
  grid[2] = nullptr;
  object.WriteMaskedGrid("masked.asc", grid, true, false, false);
  grid[2] = keep;
  EXPECT_THAT(
      ReadFile(dir / "masked.asc"),
      HasSubstr("-9999\t-9999\t-9999\t-9999\t2\t2\t2\t2\t2\t-9999\t-9999\t-9999\n"
                "-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\t-9999\n"));
}

TEST_F(GridIoTest, RowWorkIsDoneAroundEachRowInTheWritingPass) {
  // Each row is filled just before it is written and cleared just after: the
  // file holds the filled rows, the grid ends cleared, in every format.
  struct {
    const char* file;
    bool ascii;
    bool double_precision;
    bool netcdf;
    const char* written;
  } formats[] = {{"rows.asc", true, false, false, "rows.asc"},
                 {"rows.dbl", false, true, false, "rows.dbl"},
                 {"rows.flt", false, false, false, "rows.flt"},
                 {"rows_nc.asc", false, true, true, "rows_nc.asc.nc"}};
  const Rows filled = {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}};
  for (const auto& f : formats) {
    double** grid = Grid(test::Filled(3, 4, 0.0));
    std::vector<std::string> order;
    grid_row_work work;
    work.before = [&](int r) {
      order.push_back("before " + std::to_string(r));
      for (int c = 1; c <= 4; ++c) grid[r][c] = r;
    };
    work.after = [&](int r) {
      order.push_back("after " + std::to_string(r));
      for (int c = 1; c <= 4; ++c) grid[r][c] = -1.0;
    };
    object.WriteGridRows(f.file, grid, f.ascii, f.double_precision, f.netcdf, false, work);
    EXPECT_EQ(Values(grid), test::Filled(3, 4, -1.0)) << f.file;
    EXPECT_EQ(Read(f.written), filled) << f.file;
    const std::vector<std::string> interleaved = {"before 1", "after 1",  "before 2",
                                                  "after 2",  "before 3", "after 3"};
    const std::vector<std::string> around = {"before 1", "before 2", "before 3",
                                             "after 1",  "after 2",  "after 3"};
    EXPECT_EQ(order, f.netcdf ? around : interleaved) << f.file;
  }
}

TEST_F(GridIoTest, SwitchesChooseOneFormat) {
  double** grid = Grid({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
  object.WriteGrid("both", grid, true, true, false);
  EXPECT_EQ(ReadFile(dir / "both").substr(0, 6), "ncols\t");
  object.WriteGrid("single", grid, false, false, false);
  EXPECT_EQ(ReadFile(dir / "single").size(), 48u + 12u * 4u);
  // netCDF comes first, and only it is written.
  object.WriteGrid("nc", grid, true, true, true);
  EXPECT_TRUE(std::filesystem::exists(dir / "nc.nc"));
  EXPECT_FALSE(std::filesystem::exists(dir / "nc"));
  EXPECT_THAT(ExpectCode(26, [&] { object.WriteGrid("no/such/dir.asc", grid, true, false, false); }),
              HasSubstr("error creating no/such/dir.asc for writing in text mode."));
  EXPECT_THAT(ExpectCode(26, [&] { object.WriteGrid("no/such/dir.dbl", grid, false, true, false); }),
              HasSubstr("error creating no/such/dir.dbl for writing in binary mode."));
}

struct StackFixture : GridIoTest {
  static constexpr int kLevels = 3;
  double*** MakeStack() {
    double*** s = object.Matrix3D(1, object.nrows, 1, object.ncols, kLevels, object.nrows);
    owned_stacks.emplace_back(s, kLevels);
    for (int r = 1; r <= object.nrows; ++r)
      for (int c = 1; c <= object.ncols; ++c)
        for (int l = 0; l <= kLevels; ++l) s[r][c][l] = r * 100 + c * 10 + l + 0.125;
    return s;
  }
};

TEST_F(StackFixture, StacksRoundTripInEveryFormat) {
  double*** stack = MakeStack();
  struct {
    const char* file;
    bool ascii;
    bool double_precision;
  } formats[] = {{"s.asc", true, false}, {"s.dbl", false, true}, {"s.flt", false, false}};
  for (const auto& f : formats) {
    object.WriteStack(f.file, stack, kLevels, f.ascii, f.double_precision, false);
    double*** read = nullptr;
    EXPECT_EQ(object.ReadStack(f.file, read), kLevels) << f.file;
    owned_stacks.emplace_back(read, kLevels);
    for (int r = 1; r <= object.nrows; ++r)
      for (int c = 1; c <= object.ncols; ++c)
        for (int l = 0; l <= kLevels; ++l) EXPECT_EQ(read[r][c][l], stack[r][c][l]) << f.file;
  }
  const std::string text = ReadFile(dir / "s.asc");
  EXPECT_EQ(text.substr(0, text.find("numlevels")),
            "stack_ncols\t4.000000\nnrows\t3.000000\nxll\t100.000000\nyll\t200.000000\ncs\t10.000000\n"
            "nodata\t-9999.000000\ncnt\t0.000000\nmin\t0.000000\nmax\t0.000000\nsum\t0.000000\naverage\t0."
            "000000\n");
  EXPECT_THAT(text, HasSubstr("numlevels\t3.000000\n110.125\n111.125\n112.125\n113.125\n120.125\n"));
  EXPECT_EQ(ReadFile(dir / "s.dbl").size(), 96u + 12u * 4u * 8u);
}

TEST_F(StackFixture, StacksThatDoNotFitTheDomainAreRefused) {
  SetZoneGrid(Rows(3, std::vector<double>(4, 1.0)));
  const std::vector<double> values(12 * 4, 1.0);
  struct {
    std::string content;
    int code;
    std::string message;
  } cases[] = {
      {BinaryFile<double>(Header(4, 3, 100, 200, 10.5, kNodata, 3), values), 24,
       "bad has not the specified grid measures (in tester)\nzones.asc bad\n4 4\n3 3\n100 100\n200 200\n10 "
       "10.5\n"},
      {BinaryFile<float>(Header(4, 3, 100, 200, 10, -9998, 3), values), 22,
       "could not recognize file format (ascii, single float or double float) for stack bad"},
      {BinaryFile<double>(Header(4, 3, 100, 200, 10, kNodata, 3), std::vector<double>(4 * 4 + 3, 1.0)), 22,
       "error reading double stack badat row 2"},
      {BinaryFile<double>(Header(4, 3, 100, 200, 10, kNodata, 1e12), values), 22, "error reading from bad"},
      {BinaryFile<float>(Header(4, 3, 100, 200, 10, kNodata, 3), WithNan(values, 4 * 4 * 2 + 5)), 22,
       "error reading float stack badat row 3"},
      {BinaryFile<double>(Header(4, 3, 100, 200, 10, kNodata, -2), values), 22, "error reading from bad"},
      {"short", 22, "error reading from bad"},
      {"stack_ncols 4\nnrows 3\nxll 100\nyll 200\ncs 10\nnodata -9999\ncnt 0\nmin 0\nmax 0\nsum 0\naverage "
       "0\n"
       "numlevels 0\n1\n2\nx\n",
       22, "error reading ascii stack badat row 1, column 3, level 0"},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "bad", c.content);
    double*** s = nullptr;
    EXPECT_THAT(ExpectCode(c.code, [&] { object.ReadStack("bad", s); }), HasSubstr(c.message)) << c.message;
    EXPECT_EQ(s, nullptr);
  }
  double*** s = nullptr;
  EXPECT_THAT(ExpectCode(21, [&] { object.ReadStack("none", s); }), HasSubstr("error opening none"));
}

TEST_F(StackFixture, CtrlCIsHandledAgainAfterEveryFileOperation) {
  auto handler = [] {
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    return current.sa_handler;
  };
  ResetInterruptHandler();
  object.WriteStack("s.dbl", MakeStack(), kLevels, false, true, false);
  EXPECT_EQ(handler(), &OnInterrupt);
  ResetInterruptHandler();
  double*** read = nullptr;
  object.ReadStack("s.dbl", read);
  owned_stacks.emplace_back(read, kLevels);
  EXPECT_EQ(handler(), &OnInterrupt);
  ResetInterruptHandler();
  double** grid = nullptr;
  ExpectCode(21, [&] { object.ReadGrid("none", grid, 0, true, false, 0, false); });
  EXPECT_EQ(handler(), &OnInterrupt);
  ResetInterruptHandler();
}

}  // namespace
}  // namespace velmo
